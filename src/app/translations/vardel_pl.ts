<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Polish texts for what Qt's own translation (qtbase_pl) leaves in English
     in the dialogs the program shows. Read by the program as it stands;
     a message is found by its context and source, or else by its source. -->
<TS version="2.1" language="pl_PL">
<context>
    <name>QPrintSettingsOutput</name>
    <message>
        <source>Double Sided Printing</source>
        <translation>Druk dwustronny</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Wyłączony</translation>
    </message>
    <message>
        <source>Long side binding</source>
        <translation>Zszycie wzdłuż dłuższej krawędzi</translation>
    </message>
    <message>
        <source>Short side binding</source>
        <translation>Zszycie wzdłuż krótszej krawędzi</translation>
    </message>
    <message>
        <source>Pages</source>
        <translation>Strony</translation>
    </message>
    <message>
        <source>Specify pages or ranges separated by commas. Ranges are specified by two numbers separated by a hyphen. E.g: 3,5-7,9 prints pages 3, 5, 6, 7 and 9.</source>
        <translation>Podaj strony lub zakresy stron oddzielone przecinkami. Zakres to dwie liczby połączone łącznikiem, np. 3,5-7,9 drukuje strony 3, 5, 6, 7 i 9.</translation>
    </message>
</context>
<context>
    <name>QPrintPropertiesWidget</name>
    <message>
        <source>Advanced</source>
        <translation>Zaawansowane</translation>
    </message>
</context>
<context>
    <name>QPrintPropertiesDialog</name>
    <message>
        <source>Page Setup Conflicts</source>
        <translation>Sprzeczne ustawienia strony</translation>
    </message>
    <message>
        <source>There are conflicts in page setup options. Do you want to fix them?</source>
        <translation>Niektóre ustawienia strony są ze sobą sprzeczne. Czy chcesz je poprawić?</translation>
    </message>
    <message>
        <source>Advanced Option Conflicts</source>
        <translation>Sprzeczne ustawienia zaawansowane</translation>
    </message>
    <message>
        <source>There are conflicts in some advanced options. Do you want to fix them?</source>
        <translation>Niektóre ustawienia zaawansowane są ze sobą sprzeczne. Czy chcesz je poprawić?</translation>
    </message>
</context>
<context>
    <name>QPrintDialog</name>
    <message>
        <source>Invalid Pages Definition</source>
        <translation>Nieprawidłowy zakres stron</translation>
    </message>
    <message>
        <source>Duplex Settings Conflicts</source>
        <translation>Sprzeczne ustawienia druku dwustronnego</translation>
    </message>
    <message>
        <source>There are conflicts in duplex settings. Do you want to fix them?</source>
        <translation>Ustawienia druku dwustronnego są ze sobą sprzeczne. Czy chcesz je poprawić?</translation>
    </message>
    <message>
        <source>There are conflicts in some options. Please fix them.</source>
        <translation>Niektóre ustawienia są ze sobą sprzeczne. Popraw je.</translation>
    </message>
</context>
</TS>
