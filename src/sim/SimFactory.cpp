#include "sim/SimFactory.h"

namespace vardel {

namespace {

// What each register of a meter holds when it leaves the factory, in the
// order of the meter's register map: 4-20 mA inputs scaled to engineering
// units, functions as plain sums, alarms high and low, balances per hour.

constexpr SimFactoryEntry kKX2[] = {
    {SimFactoryKind::Value, 1.0f}, // 0: Typ wejścia We-1
    {SimFactoryKind::Value, 1.0f}, // 1: Typ wejścia We-2
    {SimFactoryKind::Value, 4.0f}, // 2: Zakres We-1, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 3: Zakres We-1, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 4: Zakres We-2, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 5: Zakres We-2, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 6: Skalowanie We-1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 7: Skalowanie We-1, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 8: Skalowanie We-2, wartość dolna
    {SimFactoryKind::Value, 250.0f}, // 9: Skalowanie We-2, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 10: Położenie przecinka We-1
    {SimFactoryKind::Value, 1.0f}, // 11: Położenie przecinka We-2
    {SimFactoryKind::Value, 0.5f}, // 12: Stała czasowa filtru We-1 [s]
    {SimFactoryKind::Value, 0.5f}, // 13: Stała czasowa filtru We-2 [s]
    {SimFactoryKind::Value, 4.0f}, // 14: Liczba uśrednień We-1
    {SimFactoryKind::Value, 4.0f}, // 15: Liczba uśrednień We-2
    {SimFactoryKind::Value, 0.0f}, // 16: Korekta zera We-1
    {SimFactoryKind::Value, 0.0f}, // 17: Korekta zera We-2
    {SimFactoryKind::Value, 1.0f}, // 18: Korekta wzmocnienia We-1
    {SimFactoryKind::Value, 1.0f}, // 19: Korekta wzmocnienia We-2
    {SimFactoryKind::Value, 1.0f}, // 20: Kompensacja zimnych końców We-1
    {SimFactoryKind::Value, 1.0f}, // 21: Kompensacja zimnych końców We-2
    {SimFactoryKind::Value, 0.0f}, // 22: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 23: Formuła funkcji F1
    {SimFactoryKind::Value, 1.0f}, // 24: Funkcja F1, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 25: Funkcja F1, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 26: Położenie przecinka funkcji F1
    {SimFactoryKind::Value, 0.0f}, // 27: Rezerwa
    {SimFactoryKind::Value, 90.0f}, // 28: Próg alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 29: Histereza alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 30: Źródło sygnału alarmu A1
    {SimFactoryKind::Value, 0.0f}, // 31: Tryb alarmu A1 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 32: Próg alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 33: Histereza alarmu A2
    {SimFactoryKind::Value, 2.0f}, // 34: Źródło sygnału alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 35: Tryb alarmu A2 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 36: Próg alarmu A3
    {SimFactoryKind::Value, 1.0f}, // 37: Histereza alarmu A3
    {SimFactoryKind::Value, 3.0f}, // 38: Źródło sygnału alarmu A3
    {SimFactoryKind::Value, 0.0f}, // 39: Tryb alarmu A3 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 40: Próg alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 41: Histereza alarmu A4
    {SimFactoryKind::Value, 4.0f}, // 42: Źródło sygnału alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 43: Tryb alarmu A4 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 2.0f}, // 44: Opóźnienie zadziałania alarmów [s]
    {SimFactoryKind::Value, 0.0f}, // 45: Rezerwa
    {SimFactoryKind::Value, 5.0f}, // 46: Jasność wyświetlacza
    {SimFactoryKind::Value, 1.0f}, // 47: Wielkość wyświetlana
    {SimFactoryKind::Value, 3.0f}, // 48: Czas przełączania wyświetlania [s]
    {SimFactoryKind::Value, 1.0f}, // 49: Miganie wyświetlacza przy alarmie
    {SimFactoryKind::Value, 0.0f}, // 50: Rezerwa
    {SimFactoryKind::Baud, 0.0f}, // 51: Prędkość transmisji (kod)
    {SimFactoryKind::Value, 1.0f}, // 52: Kontrola nadawania
    {SimFactoryKind::Value, 20.0f}, // 53: Czas odpowiedzi miernika [ms]
    {SimFactoryKind::Value, 0.0f}, // 54: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 55: Wyjście analogowe 1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 56: Wyjście analogowe 1, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 57: Źródło wyjścia analogowego 1
    {SimFactoryKind::Value, 0.0f}, // 58: Rezerwa
    {SimFactoryKind::Value, 1234.0f}, // 59: Hasło dostępu
    {SimFactoryKind::Value, 0.0f}, // 60: Blokada klawiatury
    {SimFactoryKind::Value, 0.0f}, // 61: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 62: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 63: Rezerwa
};

constexpr SimFactoryEntry kKX3[] = {
    {SimFactoryKind::Address, 0.0f}, // 0: Adres sieciowy miernika
    {SimFactoryKind::Baud, 0.0f}, // 1: Prędkość transmisji (kod)
    {SimFactoryKind::Value, 1.0f}, // 2: Kontrola nadawania
    {SimFactoryKind::Value, 20.0f}, // 3: Czas odpowiedzi miernika [ms]
    {SimFactoryKind::Value, 0.0f}, // 4: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 5: Typ wejścia We-1
    {SimFactoryKind::Value, 1.0f}, // 6: Typ wejścia We-2
    {SimFactoryKind::Value, 2.0f}, // 7: Typ wejścia We-3
    {SimFactoryKind::Value, 3.0f}, // 8: Typ wejścia We-4
    {SimFactoryKind::Value, 4.0f}, // 9: Zakres We-1, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 10: Zakres We-1, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 11: Zakres We-2, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 12: Zakres We-2, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 13: Zakres We-3, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 14: Zakres We-3, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 15: Zakres We-4, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 16: Zakres We-4, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 17: Skalowanie We-1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 18: Skalowanie We-1, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 19: Skalowanie We-2, wartość dolna
    {SimFactoryKind::Value, 250.0f}, // 20: Skalowanie We-2, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 21: Skalowanie We-3, wartość dolna
    {SimFactoryKind::Value, 600.0f}, // 22: Skalowanie We-3, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 23: Skalowanie We-4, wartość dolna
    {SimFactoryKind::Value, 1000.0f}, // 24: Skalowanie We-4, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 25: Położenie przecinka We-1
    {SimFactoryKind::Value, 1.0f}, // 26: Położenie przecinka We-2
    {SimFactoryKind::Value, 1.0f}, // 27: Położenie przecinka We-3
    {SimFactoryKind::Value, 1.0f}, // 28: Położenie przecinka We-4
    {SimFactoryKind::Value, 0.5f}, // 29: Stała czasowa filtru We-1 [s]
    {SimFactoryKind::Value, 0.5f}, // 30: Stała czasowa filtru We-2 [s]
    {SimFactoryKind::Value, 0.5f}, // 31: Stała czasowa filtru We-3 [s]
    {SimFactoryKind::Value, 0.5f}, // 32: Stała czasowa filtru We-4 [s]
    {SimFactoryKind::Value, 4.0f}, // 33: Liczba uśrednień We-1
    {SimFactoryKind::Value, 4.0f}, // 34: Liczba uśrednień We-2
    {SimFactoryKind::Value, 4.0f}, // 35: Liczba uśrednień We-3
    {SimFactoryKind::Value, 4.0f}, // 36: Liczba uśrednień We-4
    {SimFactoryKind::Value, 0.0f}, // 37: Korekta zera We-1
    {SimFactoryKind::Value, 0.0f}, // 38: Korekta zera We-2
    {SimFactoryKind::Value, 0.0f}, // 39: Korekta zera We-3
    {SimFactoryKind::Value, 0.0f}, // 40: Korekta zera We-4
    {SimFactoryKind::Value, 1.0f}, // 41: Korekta wzmocnienia We-1
    {SimFactoryKind::Value, 1.0f}, // 42: Korekta wzmocnienia We-2
    {SimFactoryKind::Value, 1.0f}, // 43: Korekta wzmocnienia We-3
    {SimFactoryKind::Value, 1.0f}, // 44: Korekta wzmocnienia We-4
    {SimFactoryKind::Value, 1.0f}, // 45: Kompensacja zimnych końców We-1
    {SimFactoryKind::Value, 1.0f}, // 46: Kompensacja zimnych końców We-2
    {SimFactoryKind::Value, 1.0f}, // 47: Kompensacja zimnych końców We-3
    {SimFactoryKind::Value, 1.0f}, // 48: Kompensacja zimnych końców We-4
    {SimFactoryKind::Value, 0.0f}, // 49: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 50: Formuła funkcji F1
    {SimFactoryKind::Value, 1.0f}, // 51: Funkcja F1, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 52: Funkcja F1, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 53: Położenie przecinka funkcji F1
    {SimFactoryKind::Value, 2.0f}, // 54: Formuła funkcji F2
    {SimFactoryKind::Value, 1.0f}, // 55: Funkcja F2, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 56: Funkcja F2, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 57: Położenie przecinka funkcji F2
    {SimFactoryKind::Value, 0.0f}, // 58: Rezerwa
    {SimFactoryKind::Value, 90.0f}, // 59: Próg alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 60: Histereza alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 61: Źródło sygnału alarmu A1
    {SimFactoryKind::Value, 0.0f}, // 62: Tryb alarmu A1 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 63: Próg alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 64: Histereza alarmu A2
    {SimFactoryKind::Value, 2.0f}, // 65: Źródło sygnału alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 66: Tryb alarmu A2 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 67: Próg alarmu A3
    {SimFactoryKind::Value, 1.0f}, // 68: Histereza alarmu A3
    {SimFactoryKind::Value, 3.0f}, // 69: Źródło sygnału alarmu A3
    {SimFactoryKind::Value, 0.0f}, // 70: Tryb alarmu A3 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 71: Próg alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 72: Histereza alarmu A4
    {SimFactoryKind::Value, 4.0f}, // 73: Źródło sygnału alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 74: Tryb alarmu A4 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 2.0f}, // 75: Opóźnienie zadziałania alarmów [s]
    {SimFactoryKind::Value, 0.0f}, // 76: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 77: Bilans B1, składnik dodatni
    {SimFactoryKind::Value, 0.0f}, // 78: Bilans B1, składnik ujemny
    {SimFactoryKind::Value, 60.0f}, // 79: Okres bilansowania B1 [min]
    {SimFactoryKind::Value, 1.0f}, // 80: Jednostka bilansu B1
    {SimFactoryKind::Value, 2.0f}, // 81: Położenie przecinka bilansu B1
    {SimFactoryKind::Value, 0.0f}, // 82: Rezerwa
    {SimFactoryKind::Value, 5.0f}, // 83: Jasność wyświetlacza
    {SimFactoryKind::Value, 1.0f}, // 84: Wielkość wyświetlana
    {SimFactoryKind::Value, 3.0f}, // 85: Czas przełączania wyświetlania [s]
    {SimFactoryKind::Value, 1.0f}, // 86: Miganie wyświetlacza przy alarmie
    {SimFactoryKind::Value, 0.0f}, // 87: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 88: Wyjście analogowe 1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 89: Wyjście analogowe 1, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 90: Źródło wyjścia analogowego 1
    {SimFactoryKind::Value, 0.0f}, // 91: Rezerwa
    {SimFactoryKind::Value, 1234.0f}, // 92: Hasło dostępu
    {SimFactoryKind::Value, 0.0f}, // 93: Blokada klawiatury
    {SimFactoryKind::Value, 0.0f}, // 94: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 95: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 96: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 97: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 98: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 99: Rezerwa
};

constexpr SimFactoryEntry kKX4[] = {
    {SimFactoryKind::Value, 1.0f}, // 0: Typ wejścia We-1
    {SimFactoryKind::Value, 1.0f}, // 1: Typ wejścia We-2
    {SimFactoryKind::Value, 2.0f}, // 2: Typ wejścia We-3
    {SimFactoryKind::Value, 3.0f}, // 3: Typ wejścia We-4
    {SimFactoryKind::Value, 4.0f}, // 4: Zakres We-1, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 5: Zakres We-1, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 6: Zakres We-2, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 7: Zakres We-2, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 8: Zakres We-3, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 9: Zakres We-3, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 10: Zakres We-4, wartość dolna
    {SimFactoryKind::Value, 20.0f}, // 11: Zakres We-4, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 12: Skalowanie We-1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 13: Skalowanie We-1, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 14: Skalowanie We-2, wartość dolna
    {SimFactoryKind::Value, 250.0f}, // 15: Skalowanie We-2, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 16: Skalowanie We-3, wartość dolna
    {SimFactoryKind::Value, 600.0f}, // 17: Skalowanie We-3, wartość górna
    {SimFactoryKind::Value, 0.0f}, // 18: Skalowanie We-4, wartość dolna
    {SimFactoryKind::Value, 1000.0f}, // 19: Skalowanie We-4, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 20: Położenie przecinka We-1
    {SimFactoryKind::Value, 1.0f}, // 21: Położenie przecinka We-2
    {SimFactoryKind::Value, 1.0f}, // 22: Położenie przecinka We-3
    {SimFactoryKind::Value, 1.0f}, // 23: Położenie przecinka We-4
    {SimFactoryKind::Value, 0.5f}, // 24: Stała czasowa filtru We-1 [s]
    {SimFactoryKind::Value, 0.5f}, // 25: Stała czasowa filtru We-2 [s]
    {SimFactoryKind::Value, 0.5f}, // 26: Stała czasowa filtru We-3 [s]
    {SimFactoryKind::Value, 0.5f}, // 27: Stała czasowa filtru We-4 [s]
    {SimFactoryKind::Value, 4.0f}, // 28: Liczba uśrednień We-1
    {SimFactoryKind::Value, 4.0f}, // 29: Liczba uśrednień We-2
    {SimFactoryKind::Value, 4.0f}, // 30: Liczba uśrednień We-3
    {SimFactoryKind::Value, 4.0f}, // 31: Liczba uśrednień We-4
    {SimFactoryKind::Value, 0.0f}, // 32: Korekta zera We-1
    {SimFactoryKind::Value, 0.0f}, // 33: Korekta zera We-2
    {SimFactoryKind::Value, 0.0f}, // 34: Korekta zera We-3
    {SimFactoryKind::Value, 0.0f}, // 35: Korekta zera We-4
    {SimFactoryKind::Value, 1.0f}, // 36: Korekta wzmocnienia We-1
    {SimFactoryKind::Value, 1.0f}, // 37: Korekta wzmocnienia We-2
    {SimFactoryKind::Value, 1.0f}, // 38: Korekta wzmocnienia We-3
    {SimFactoryKind::Value, 1.0f}, // 39: Korekta wzmocnienia We-4
    {SimFactoryKind::Value, 1.0f}, // 40: Kompensacja zimnych końców We-1
    {SimFactoryKind::Value, 1.0f}, // 41: Kompensacja zimnych końców We-2
    {SimFactoryKind::Value, 1.0f}, // 42: Kompensacja zimnych końców We-3
    {SimFactoryKind::Value, 1.0f}, // 43: Kompensacja zimnych końców We-4
    {SimFactoryKind::Value, 0.0f}, // 44: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 45: Formuła funkcji F1
    {SimFactoryKind::Value, 1.0f}, // 46: Funkcja F1, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 47: Funkcja F1, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 48: Położenie przecinka funkcji F1
    {SimFactoryKind::Value, 2.0f}, // 49: Formuła funkcji F2
    {SimFactoryKind::Value, 1.0f}, // 50: Funkcja F2, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 51: Funkcja F2, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 52: Położenie przecinka funkcji F2
    {SimFactoryKind::Value, 3.0f}, // 53: Formuła funkcji F3
    {SimFactoryKind::Value, 1.0f}, // 54: Funkcja F3, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 55: Funkcja F3, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 56: Położenie przecinka funkcji F3
    {SimFactoryKind::Value, 4.0f}, // 57: Formuła funkcji F4
    {SimFactoryKind::Value, 1.0f}, // 58: Funkcja F4, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 59: Funkcja F4, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 60: Położenie przecinka funkcji F4
    {SimFactoryKind::Value, 5.0f}, // 61: Formuła funkcji F5
    {SimFactoryKind::Value, 1.0f}, // 62: Funkcja F5, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 63: Funkcja F5, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 64: Położenie przecinka funkcji F5
    {SimFactoryKind::Value, 6.0f}, // 65: Formuła funkcji F6
    {SimFactoryKind::Value, 1.0f}, // 66: Funkcja F6, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 67: Funkcja F6, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 68: Położenie przecinka funkcji F6
    {SimFactoryKind::Value, 7.0f}, // 69: Formuła funkcji F7
    {SimFactoryKind::Value, 1.0f}, // 70: Funkcja F7, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 71: Funkcja F7, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 72: Położenie przecinka funkcji F7
    {SimFactoryKind::Value, 8.0f}, // 73: Formuła funkcji F8
    {SimFactoryKind::Value, 1.0f}, // 74: Funkcja F8, współczynnik A
    {SimFactoryKind::Value, 0.0f}, // 75: Funkcja F8, współczynnik B
    {SimFactoryKind::Value, 1.0f}, // 76: Położenie przecinka funkcji F8
    {SimFactoryKind::Value, 0.0f}, // 77: Rezerwa
    {SimFactoryKind::Value, 90.0f}, // 78: Próg alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 79: Histereza alarmu A1
    {SimFactoryKind::Value, 1.0f}, // 80: Źródło sygnału alarmu A1
    {SimFactoryKind::Value, 0.0f}, // 81: Tryb alarmu A1 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 82: Próg alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 83: Histereza alarmu A2
    {SimFactoryKind::Value, 2.0f}, // 84: Źródło sygnału alarmu A2
    {SimFactoryKind::Value, 1.0f}, // 85: Tryb alarmu A2 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 86: Próg alarmu A3
    {SimFactoryKind::Value, 1.0f}, // 87: Histereza alarmu A3
    {SimFactoryKind::Value, 3.0f}, // 88: Źródło sygnału alarmu A3
    {SimFactoryKind::Value, 0.0f}, // 89: Tryb alarmu A3 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 90: Próg alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 91: Histereza alarmu A4
    {SimFactoryKind::Value, 4.0f}, // 92: Źródło sygnału alarmu A4
    {SimFactoryKind::Value, 1.0f}, // 93: Tryb alarmu A4 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 90.0f}, // 94: Próg alarmu A5
    {SimFactoryKind::Value, 1.0f}, // 95: Histereza alarmu A5
    {SimFactoryKind::Value, 1.0f}, // 96: Źródło sygnału alarmu A5
    {SimFactoryKind::Value, 0.0f}, // 97: Tryb alarmu A5 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 98: Próg alarmu A6
    {SimFactoryKind::Value, 1.0f}, // 99: Histereza alarmu A6
    {SimFactoryKind::Value, 2.0f}, // 100: Źródło sygnału alarmu A6
    {SimFactoryKind::Value, 1.0f}, // 101: Tryb alarmu A6 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 102: Próg alarmu A7
    {SimFactoryKind::Value, 1.0f}, // 103: Histereza alarmu A7
    {SimFactoryKind::Value, 3.0f}, // 104: Źródło sygnału alarmu A7
    {SimFactoryKind::Value, 0.0f}, // 105: Tryb alarmu A7 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 106: Próg alarmu A8
    {SimFactoryKind::Value, 1.0f}, // 107: Histereza alarmu A8
    {SimFactoryKind::Value, 4.0f}, // 108: Źródło sygnału alarmu A8
    {SimFactoryKind::Value, 1.0f}, // 109: Tryb alarmu A8 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 90.0f}, // 110: Próg alarmu A9
    {SimFactoryKind::Value, 1.0f}, // 111: Histereza alarmu A9
    {SimFactoryKind::Value, 1.0f}, // 112: Źródło sygnału alarmu A9
    {SimFactoryKind::Value, 0.0f}, // 113: Tryb alarmu A9 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 114: Próg alarmu A10
    {SimFactoryKind::Value, 1.0f}, // 115: Histereza alarmu A10
    {SimFactoryKind::Value, 2.0f}, // 116: Źródło sygnału alarmu A10
    {SimFactoryKind::Value, 1.0f}, // 117: Tryb alarmu A10 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 118: Próg alarmu A11
    {SimFactoryKind::Value, 1.0f}, // 119: Histereza alarmu A11
    {SimFactoryKind::Value, 3.0f}, // 120: Źródło sygnału alarmu A11
    {SimFactoryKind::Value, 0.0f}, // 121: Tryb alarmu A11 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 122: Próg alarmu A12
    {SimFactoryKind::Value, 1.0f}, // 123: Histereza alarmu A12
    {SimFactoryKind::Value, 4.0f}, // 124: Źródło sygnału alarmu A12
    {SimFactoryKind::Value, 1.0f}, // 125: Tryb alarmu A12 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 90.0f}, // 126: Próg alarmu A13
    {SimFactoryKind::Value, 1.0f}, // 127: Histereza alarmu A13
    {SimFactoryKind::Value, 1.0f}, // 128: Źródło sygnału alarmu A13
    {SimFactoryKind::Value, 0.0f}, // 129: Tryb alarmu A13 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 10.0f}, // 130: Próg alarmu A14
    {SimFactoryKind::Value, 1.0f}, // 131: Histereza alarmu A14
    {SimFactoryKind::Value, 2.0f}, // 132: Źródło sygnału alarmu A14
    {SimFactoryKind::Value, 1.0f}, // 133: Tryb alarmu A14 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 95.0f}, // 134: Próg alarmu A15
    {SimFactoryKind::Value, 1.0f}, // 135: Histereza alarmu A15
    {SimFactoryKind::Value, 3.0f}, // 136: Źródło sygnału alarmu A15
    {SimFactoryKind::Value, 0.0f}, // 137: Tryb alarmu A15 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 5.0f}, // 138: Próg alarmu A16
    {SimFactoryKind::Value, 1.0f}, // 139: Histereza alarmu A16
    {SimFactoryKind::Value, 4.0f}, // 140: Źródło sygnału alarmu A16
    {SimFactoryKind::Value, 1.0f}, // 141: Tryb alarmu A16 (0-górny, 1-dolny)
    {SimFactoryKind::Value, 2.0f}, // 142: Opóźnienie zadziałania alarmów [s]
    {SimFactoryKind::Value, 0.0f}, // 143: Rezerwa
    {SimFactoryKind::Value, 1.0f}, // 144: Bilans B1, składnik dodatni
    {SimFactoryKind::Value, 0.0f}, // 145: Bilans B1, składnik ujemny
    {SimFactoryKind::Value, 60.0f}, // 146: Okres bilansowania B1 [min]
    {SimFactoryKind::Value, 1.0f}, // 147: Jednostka bilansu B1
    {SimFactoryKind::Value, 2.0f}, // 148: Położenie przecinka bilansu B1
    {SimFactoryKind::Value, 2.0f}, // 149: Bilans B2, składnik dodatni
    {SimFactoryKind::Value, 0.0f}, // 150: Bilans B2, składnik ujemny
    {SimFactoryKind::Value, 60.0f}, // 151: Okres bilansowania B2 [min]
    {SimFactoryKind::Value, 1.0f}, // 152: Jednostka bilansu B2
    {SimFactoryKind::Value, 2.0f}, // 153: Położenie przecinka bilansu B2
    {SimFactoryKind::Value, 3.0f}, // 154: Bilans B3, składnik dodatni
    {SimFactoryKind::Value, 0.0f}, // 155: Bilans B3, składnik ujemny
    {SimFactoryKind::Value, 60.0f}, // 156: Okres bilansowania B3 [min]
    {SimFactoryKind::Value, 1.0f}, // 157: Jednostka bilansu B3
    {SimFactoryKind::Value, 2.0f}, // 158: Położenie przecinka bilansu B3
    {SimFactoryKind::Value, 4.0f}, // 159: Bilans B4, składnik dodatni
    {SimFactoryKind::Value, 0.0f}, // 160: Bilans B4, składnik ujemny
    {SimFactoryKind::Value, 60.0f}, // 161: Okres bilansowania B4 [min]
    {SimFactoryKind::Value, 1.0f}, // 162: Jednostka bilansu B4
    {SimFactoryKind::Value, 2.0f}, // 163: Położenie przecinka bilansu B4
    {SimFactoryKind::Value, 0.0f}, // 164: Rezerwa
    {SimFactoryKind::Value, 5.0f}, // 165: Jasność wyświetlacza
    {SimFactoryKind::Value, 1.0f}, // 166: Wielkość wyświetlana
    {SimFactoryKind::Value, 3.0f}, // 167: Czas przełączania wyświetlania [s]
    {SimFactoryKind::Value, 1.0f}, // 168: Miganie wyświetlacza przy alarmie
    {SimFactoryKind::Value, 0.0f}, // 169: Rezerwa
    {SimFactoryKind::Baud, 0.0f}, // 170: Prędkość transmisji (kod)
    {SimFactoryKind::Value, 1.0f}, // 171: Kontrola nadawania
    {SimFactoryKind::Value, 20.0f}, // 172: Czas odpowiedzi miernika [ms]
    {SimFactoryKind::Value, 0.0f}, // 173: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 174: Wyjście analogowe 1, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 175: Wyjście analogowe 1, wartość górna
    {SimFactoryKind::Value, 1.0f}, // 176: Źródło wyjścia analogowego 1
    {SimFactoryKind::Value, 0.0f}, // 177: Wyjście analogowe 2, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 178: Wyjście analogowe 2, wartość górna
    {SimFactoryKind::Value, 2.0f}, // 179: Źródło wyjścia analogowego 2
    {SimFactoryKind::Value, 0.0f}, // 180: Wyjście analogowe 3, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 181: Wyjście analogowe 3, wartość górna
    {SimFactoryKind::Value, 3.0f}, // 182: Źródło wyjścia analogowego 3
    {SimFactoryKind::Value, 0.0f}, // 183: Wyjście analogowe 4, wartość dolna
    {SimFactoryKind::Value, 100.0f}, // 184: Wyjście analogowe 4, wartość górna
    {SimFactoryKind::Value, 4.0f}, // 185: Źródło wyjścia analogowego 4
    {SimFactoryKind::Value, 0.0f}, // 186: Rezerwa
    {SimFactoryKind::Value, 1234.0f}, // 187: Hasło dostępu
    {SimFactoryKind::Value, 0.0f}, // 188: Blokada klawiatury
    {SimFactoryKind::Value, 0.0f}, // 189: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 190: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 191: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 192: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 193: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 194: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 195: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 196: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 197: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 198: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 199: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 200: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 201: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 202: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 203: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 204: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 205: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 206: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 207: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 208: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 209: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 210: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 211: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 212: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 213: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 214: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 215: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 216: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 217: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 218: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 219: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 220: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 221: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 222: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 223: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 224: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 225: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 226: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 227: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 228: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 229: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 230: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 231: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 232: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 233: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 234: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 235: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 236: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 237: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 238: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 239: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 240: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 241: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 242: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 243: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 244: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 245: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 246: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 247: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 248: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 249: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 250: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 251: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 252: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 253: Rezerwa
    {SimFactoryKind::Value, 0.0f}, // 254: Rezerwa
};

} // namespace

SimFactoryEntry simFactoryEntry(std::int16_t model, int r)
{
    const std::span<const SimFactoryEntry> table = model == 0 ? std::span<const SimFactoryEntry>(kKX2)
        : model == 1                                       ? std::span<const SimFactoryEntry>(kKX3)
                                                           : std::span<const SimFactoryEntry>(kKX4);
    if (r < 0 || static_cast<std::size_t>(r) >= table.size())
        return {};
    return table[static_cast<std::size_t>(r)];
}

} // namespace vardel
