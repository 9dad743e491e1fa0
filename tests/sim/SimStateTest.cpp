// The simulator's state file: what an EEPROM store keeps across a restart,
// what a damaged or hand-edited file gives, and faults from file and command
// line.
#include "sim/SimCard.h"
#include "sim/SimState.h"

#include "link/Module1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include "support/TestFiles.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace vardel {
namespace {

using vardel::test::readBytes;
using vardel::test::writeBytes;

void expectFactory(const SimCard& card)
{
    const std::vector<SimMeter> factory = factoryNetwork();
    ASSERT_EQ(card.meters().size(), factory.size());
    for (std::size_t i = 0; i < factory.size(); ++i) {
        EXPECT_EQ(card.meters()[i].model, factory[i].model);
        EXPECT_EQ(card.meters()[i].address, factory[i].address);
        EXPECT_TRUE(card.meters()[i].eeprom == factory[i].eeprom) << "meter " << i;
    }
}

// A store through the link, as the write window does it.
void storeThroughLink(SimCard& card, std::int16_t address)
{
    Module1 link(card);
    link.setCardAddress(static_cast<std::int16_t>(card.baseAddress()));
    link.MeterAddress = address;
    link.CardSetLink();
    link.SendEepromStore();
}

class SimState : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("VardelSim.txt"));
    QStringList messages;
};

TEST_F(SimState, EepromStoreSurvivesARestart)
{
    ASSERT_TRUE(dir.isValid());
    auto first = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(first);
    EXPECT_TRUE(messages.isEmpty()) << "a missing file is a first start, not damage";
    EXPECT_FALSE(QFile::exists(path));

    Module1 link(*first);
    link.MeterAddress = 2;
    link.MeterModel = kModelKX3;
    link.CardSetLink();
    link.Kx_Reg_Write(6, 25.0f);
    std::int16_t flag = 1;
    link.WaitWriteReply(flag);
    ASSERT_EQ(flag, 0);
    link.SendEepromStore();

    // Bytes that are not a meter number, and bytes outside the registers,
    // must come back exactly.
    SimMeter* kx4 = first->meterAt(3);
    kx4->ram[1000] = 1;
    kx4->ram[1001] = 2;
    kx4->ram[1017] = 0xAB;
    const std::size_t odd = SimMeter::configBase(kModelKX4) + 6 * 10;
    for (std::size_t i = 0; i < 6; ++i)
        kx4->ram[odd + i] = static_cast<std::uint8_t>(0xF0 + i);
    storeThroughLink(*first, 3);
    first->passTime(std::chrono::seconds(5));

    const QByteArray text = readBytes(path);
    EXPECT_TRUE(text.contains("\r\n[miernik]\r\nmodel=KX-3\r\nadres=2\r\nbaud=4\r\nr6=25\r\n\r\n"))
        << "registers as the factory left them are left out: " << text.toStdString();
    EXPECT_TRUE(text.contains("\r\n@03E8=01 02\r\n@03F9=AB\r\n")) << "runs of written bytes, zeros left out";
    EXPECT_TRUE(text.contains("\r\n@0F15=F0 F1 F2 F3 F4 F5\r\n"));

    auto second = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(second);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(second->meters().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(second->meters()[i].eeprom == first->meters()[i].eeprom) << "meter " << i;
        EXPECT_TRUE(second->meters()[i].ram == second->meters()[i].eeprom);
    }
    EXPECT_EQ(second->meterAt(2)->configValue(6), 25.0f);
}

// Two programs that read the file at the same time and then store different
// meters: the second store must not bring back the first meter's old EEPROM,
// nor drop what was typed into the file meanwhile.
TEST_F(SimState, StoreReplacesOnlyItsOwnMeterInTheFileAsItIsNow)
{
    ASSERT_TRUE(dir.isValid());
    auto a = SimCard::create({path, {}}, messages);
    auto b = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(a && b);
    a->meterAt(1)->setConfigValue(3, 11.0f);
    storeThroughLink(*a, 1);
    b->meterAt(2)->setConfigValue(3, 22.0f);
    storeThroughLink(*b, 2);

    // A hand edit between stores: the card's faults and a fourth meter.
    QByteArray text = readBytes(path);
    text.replace("usterki=\r\n", "usterki=no-ack\r\n");
    text += "\r\n[miernik]\r\nmodel=KX-2\r\nadres=9\r\nr5=99\r\n";
    writeBytes(path, text);
    a->meterAt(3)->setConfigValue(3, 33.0f);
    storeThroughLink(*a, 3);
    ASSERT_TRUE(a->takeMessages().isEmpty());
    ASSERT_TRUE(b->takeMessages().isEmpty());

    auto after = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(after);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(after->meters().size(), 4u);
    EXPECT_EQ(after->meterAt(1)->configValue(3, true), 11.0f);
    EXPECT_EQ(after->meterAt(2)->configValue(3, true), 22.0f);
    EXPECT_EQ(after->meterAt(3)->configValue(3, true), 33.0f);
    EXPECT_EQ(after->meterAt(9)->configValue(5, true), 99.0f);
    EXPECT_TRUE(after->faults().noAck);
}

// Power stays on between programs: what one program leaves in a meter's RAM,
// and the link a stored change has not yet moved it to, the next one finds.
TEST_F(SimState, RamAndTheLinkInUseOutliveTheProgram)
{
    ASSERT_TRUE(dir.isValid());
    auto first = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(first);
    Module1 link(*first);
    link.MeterAddress = 2;
    link.CardSetLink();
    const auto write = [&link](std::int16_t r, float value) {
        link.Kx_Reg_Write(r, value);
        std::int16_t flag = 1;
        link.WaitWriteReply(flag);
        ASSERT_EQ(flag, 0);
    };
    write(0, 7.0f); // the KX-3's address, stored
    link.SendEepromStore();
    first->passTime(std::chrono::seconds(3));
    write(9, 55.0f); // RAM only
    ASSERT_TRUE(first->saveChanges());

    QByteArray text = readBytes(path);
    EXPECT_TRUE(text.contains("\r\nmodel=KX-3\r\nadres=7\r\nbaud=4\r\nram.r9=55\r\ndo_resetu.adres=2\r\ndo_resetu.baud=4\r\n"))
        << "as its EEPROM says: " << text.toStdString();

    auto second = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(second);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_NE(second->meterAt(2), nullptr) << "still at 2 until its reset";
    EXPECT_EQ(second->meterAt(2)->configValue(9), 55.0f);
    EXPECT_EQ(second->meterAt(2)->configValue(9, true), 4.0f);

    // Reset: the meter moves to 7 and its section in the file with it.
    Module1 again(*second);
    again.MeterAddress = 2;
    again.CardSetLink();
    again.SendMeterReset();
    ASSERT_TRUE(second->saveChanges());
    text = readBytes(path);
    EXPECT_FALSE(text.contains("\ndo_resetu") || text.contains("\nram.")) << text.toStdString();
    EXPECT_EQ(text.count("\n[miernik]\r"), 3);

    // Switched off and on: RAM comes back from the EEPROM, also where a
    // program left it different.
    second->meterAt(7)->setConfigValue(9, 66.0f);
    second->meterAt(7)->changed = true;
    ASSERT_TRUE(second->saveChanges());
    auto third = SimCard::create({path, {QStringLiteral("power-cycle")}}, messages);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->meterAt(7)->configValue(9), 4.0f);
}

TEST_F(SimState, MetersMayShareAnAddressInTheFile)
{
    // A meter moved onto another's address: both stay, both answer at once.
    ASSERT_TRUE(dir.isValid());
    writeBytes(path, "[miernik]\r\nmodel=KX-2\r\nadres=1\r\n[miernik]\r\nmodel=KX-4\r\nadres=1\r\n");
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(card->meters().size(), 2u);
}

TEST_F(SimState, DamagedFileGivesFactoryMetersAndSaysWhy)
{
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QByteArray content;
        const char* reason;
    };
    const Case cases[] = {
        {"[miernik]\r\nmodel=KX-9\r\nadres=1\r\n", "wiersz 2: nieprawidłowa wartość „KX-9”"},
        {"[karta]\r\nadres=70000\r\n", "wiersz 2"},
        {"[karta]\r\nadres=20h\r\n", "wiersz 2"}, // the PC's own ports
        {"[karta]\r\nusterki=melt\r\n", "wiersz 2: nieznana usterka symulatora: melt"},
        {"r1=5\r\n", "wiersz 1: wpis poza sekcją"},
        {"[zegar]\r\n", "wiersz 1: nieznana sekcja"},
        {"[miernik]\r\nmodel=KX-2\r\n", "wiersz 1: miernik bez modelu lub adresu"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\nr64=1\r\n", "wiersz 4: rejestr 64 poza zakresem modelu KX-2"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\nr1=nan\r\n", "wiersz 4"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\nr1=1e39\r\n", "wiersz 4"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\n@FFFF=01 02\r\n", "wiersz 4"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\n@0100=1G\r\n", "wiersz 4"},
        {"[miernik]\r\nmodel=KX-2\r\nadres=1\r\nram.r64=1\r\n", "wiersz 4: rejestr 64 poza zakresem modelu KX-2"},
        {"[miernik]\r\nmodel=KX-3\r\nadres=1\r\ndo_resetu.baud=6\r\n", "wiersz 4: nieprawidłowa wartość „6”"},
        {"[miernik]\r\nmodel=KX-3\r\nadres=1\r\nusterki=dead-card\r\n",
         "wiersz 4: usterka „dead-card” nie dotyczy jednego miernika (tylko no-ack, no-store, no-reset)"},
        {QByteArray("\x00\xff\x12garbage", 10), "wiersz 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        writeBytes(path, c.content);
        messages.clear();
        auto card = SimCard::create({path, {}}, messages);
        ASSERT_TRUE(card);
        ASSERT_EQ(messages.size(), 1);
        const QString expectedStart = QStringLiteral("Plik stanu symulatora %1 jest uszkodzony (").arg(QDir::toNativeSeparators(path));
        EXPECT_TRUE(messages[0].startsWith(expectedStart)) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].endsWith(QStringLiteral("). Użyto ustawień fabrycznych mierników.")));
        EXPECT_TRUE(messages[0].contains(QString::fromUtf8(c.reason))) << messages[0].toStdString();
        expectFactory(*card);
        EXPECT_EQ(card->baseAddress(), SimCard::kDefaultBase);
        EXPECT_FALSE(card->faults().noMeter || card->faults().noAck);
    }
}

TEST_F(SimState, DamagedFileIsKeptAsideOnTheFirstStore)
{
    ASSERT_TRUE(dir.isValid());
    const QByteArray damaged = "[miernik]\r\nmodel=KX-2\r\nadres=1\r\nr1=jeden\r\n";
    writeBytes(path, damaged);
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);

    // Where the copy cannot be made, the damaged file is not overwritten.
    const QString backup = path + QStringLiteral(".uszkodzony");
    ASSERT_TRUE(QDir().mkdir(backup));
    storeThroughLink(*card, 2);
    const QStringList raised = card->takeMessages();
    ASSERT_EQ(raised.size(), 1);
    EXPECT_EQ(raised[0], QStringLiteral("Nie można zachować kopii uszkodzonego pliku stanu symulatora %1 (%2: to jest "
                                        "folder, a nie plik); plik pozostał bez zmian.")
                             .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(backup)));
    EXPECT_EQ(readBytes(path), damaged);

    ASSERT_TRUE(QDir().rmdir(backup));
    card->passTime(std::chrono::seconds(5)); // the meter hears nothing while it stores
    storeThroughLink(*card, 2);
    EXPECT_TRUE(card->takeMessages().isEmpty());
    EXPECT_EQ(readBytes(backup), damaged);

    messages.clear();
    ASSERT_TRUE(SimCard::create({path, {}}, messages));
    EXPECT_TRUE(messages.isEmpty()) << "the new file is sound";
}

// A file that is there but cannot be read now (no access, too many open
// files) may be whole: it is an error, neither damage to start afresh from
// nor a file to store over (the folder would let a store replace it).
TEST_F(SimState, AFileThatCannotBeReadIsNeitherDamagedNorReplaced)
{
    ASSERT_TRUE(dir.isValid());
    const QByteArray typed = "[miernik]\r\nmodel=KX-4\r\nadres=7\r\nr3=250\r\n";
    writeBytes(path, typed);
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);
    ASSERT_TRUE(messages.isEmpty());

    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    ::chmod(QFile::encodeName(path).constData(), ::geteuid() == 0 ? 0600 : 0);
    // Root reads anything: the file system sees an ordinary user meanwhile.
    if (::geteuid() == 0) {
        setfsgid(65534);
        setfsuid(65534);
    }
    const std::unique_ptr<SimCard> second = SimCard::create({path, {}}, messages);
    storeThroughLink(*card, 7);
    if (::geteuid() == 0) {
        setfsuid(0);
        setfsgid(0);
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);

    EXPECT_FALSE(second);
    const QString cannotRead =
        QStringLiteral("Nie można wczytać pliku stanu symulatora %1: brak dostępu do pliku").arg(QDir::toNativeSeparators(path));
    EXPECT_EQ(messages, QStringList{cannotRead});
    EXPECT_EQ(card->takeMessages(), QStringList{cannotRead});
    EXPECT_EQ(readBytes(path), typed);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".uszkodzony")));
}

TEST_F(SimState, HandWrittenFileSetsCardMetersAndFaults)
{
    ASSERT_TRUE(dir.isValid());
    // Lower case and a hexadecimal base, as a person types them, with the
    // line ends of any editor (a bare CR once swallowed the whole network
    // as one comment).
    QByteArray typed = "; mój plik\n[karta]\nadres=300h\nusterki=no-ack, no-store, slow-reply=7\n\n"
                       "[miernik]\nmodel=kx4\nadres=7\nbaud=2\nr3=250\nusterki=no-ack, no-reset\n";
    for (const char* lineEnd : {"\r", "\r\n"}) {
        writeBytes(path, QByteArray(typed).replace('\n', lineEnd));
        auto card = SimCard::create({path, {}}, messages);
        ASSERT_TRUE(card && card->meters().size() == 1) << "line end " << QByteArray(lineEnd).toHex().toStdString();
        EXPECT_EQ(card->meters()[0].configValue(3), 250.0f);
        EXPECT_EQ(card->faults().slowReply, 7);
    }
    writeBytes(path, typed);
    auto card = SimCard::create({path, {QStringLiteral("bad-length=1")}}, messages);
    ASSERT_TRUE(card);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(card->baseAddress(), 768);
    EXPECT_TRUE(card->faults().noAck);
    EXPECT_TRUE(card->faults().noStore);
    EXPECT_EQ(card->faults().slowReply, 7);
    EXPECT_EQ(card->faults().badLength, 1);
    ASSERT_EQ(card->meters().size(), 1u);
    const SimMeter& m = card->meters()[0];
    EXPECT_EQ(m.model, kModelKX4);
    EXPECT_EQ(m.address, 7);
    EXPECT_EQ(m.baudCode, 2);
    EXPECT_EQ(m.configValue(3), 250.0f);
    EXPECT_EQ(m.configValue(4, true), 4.0f) << "registers not named keep their factory value";
    EXPECT_TRUE(m.noAck) << "a fault of this meter alone";
    EXPECT_TRUE(m.noReset);
    EXPECT_FALSE(m.noStore);

    // Saving keeps the file's faults, not those of this run's command line.
    ASSERT_TRUE(card->saveState());
    const QByteArray text = readBytes(path);
    EXPECT_TRUE(text.contains("\r\n[karta]\r\nadres=768\r\nusterki=no-ack,no-store,slow-reply=7\r\n")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("\r\nusterki=no-ack,no-reset\r\n")) << text.toStdString();
}

TEST_F(SimState, HeldLiveTimeIsReadCheckedAndKeptBySaving)
{
    ASSERT_TRUE(dir.isValid());
    writeBytes(path, "[karta]\nczas_pomiarow=1234\n");
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(card->saveState());
    EXPECT_TRUE(readBytes(path).contains("\r\nczas_pomiarow=1234\r\n")) << readBytes(path).toStdString();

    for (const char* bad : {"-1", "12.5", "x"}) {
        SimStateData state;
        QString reason;
        EXPECT_FALSE(parseSimState(QByteArray("[karta]\nczas_pomiarow=") + bad + "\n", state, &reason)) << bad;
        EXPECT_TRUE(reason.contains(QStringLiteral("nieprawidłowa wartość"))) << reason.toStdString();
    }
    // Without the key nothing is written: the values move with time.
    SimStateData plain;
    EXPECT_FALSE(simStateHead(plain).contains("czas_pomiarow="));
}

TEST_F(SimState, UnknownCommandLineFaultStopsTheStart)
{
    for (const char* faultText : {"melt", "slow-reply=-1"}) {
        messages.clear();
        EXPECT_FALSE(SimCard::create({path, {QStringLiteral("no-ack"), QString::fromLatin1(faultText)}}, messages));
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains(QString::fromLatin1(faultText).section(QLatin1Char('='), -1))) << messages[0].toStdString();
    }
}

TEST_F(SimState, WriteFailureIsReportedAndTheMeterStillStores)
{
    ASSERT_TRUE(dir.isValid());
    const QString unwritable = dir.filePath(QStringLiteral("brak/VardelSim.txt"));
    auto card = SimCard::create({unwritable, {}}, messages);
    ASSERT_TRUE(card);
    QStringList seen;
    card->setMessageHandler([&seen](const QString& m) { seen << m; });
    card->meterAt(1)->setConfigValue(3, 12.0f);

    storeThroughLink(*card, 1);
    card->passTime(std::chrono::seconds(5));
    EXPECT_EQ(card->meterAt(1)->configValue(3, true), 12.0f);
    const QStringList raised = card->takeMessages();
    ASSERT_EQ(raised.size(), 1);
    EXPECT_TRUE(raised[0].startsWith(
        QStringLiteral("Nie można zapisać pliku stanu symulatora %1: ").arg(QDir::toNativeSeparators(unwritable))))
        << raised[0].toStdString();
    EXPECT_EQ(seen, raised);
    EXPECT_TRUE(card->takeMessages().isEmpty());
}

} // namespace
} // namespace vardel

namespace vardel {
namespace {

// A whole network of 255 KX-4 meters, every register differing from the
// factory's in EEPROM and again in RAM, goes into the file and comes back
// as it was: well under the bound the reader keeps to.
TEST(SimStateSize, AWholeNetworkOfKX4WithRamAndEepromComesBack)
{
    SimStateData state;
    for (int a = 0; a < 255; ++a) {
        SimMeter m = SimMeter::factory(kModelKX4, a);
        for (int r = 0; r < SimMeter::registerCount(kModelKX4); ++r) {
            if (r == 170 || r == 171 || r == 172)
                continue; // the link stays one the meter can use
            m.setConfigValue(r, -123456.7f - static_cast<float>(r * a));
        }
        m.eeprom = m.ram;
        for (int r = 0; r < 170; ++r)
            m.setConfigValue(r, 0.000123f * static_cast<float>(r + a));
        state.meters.push_back(std::move(m));
    }
    const QByteArray text = simStateText(state);
    EXPECT_LT(text.size(), kSimStateLimit / 4) << "room for hand-written additions";
    SimStateData back;
    QString reason;
    ASSERT_TRUE(parseSimState(text, back, &reason)) << reason.toStdString();
    ASSERT_EQ(back.meters.size(), 255u);
    for (std::size_t i = 0; i < 255; ++i) {
        EXPECT_TRUE(back.meters[i].eeprom == state.meters[i].eeprom) << "meter " << i;
        EXPECT_TRUE(back.meters[i].ram == state.meters[i].ram) << "meter " << i;
    }
}

// The memory of a meter is held in pages shared until written: a network of
// many meters costs little more than the registers each uses.
TEST(SimStateSize, MeterMemoryIsSharedUntilWritten)
{
    SimMeter m = SimMeter::factory(kModelKX4, 3);
    EXPECT_TRUE(m.ram == m.eeprom);
    // The KX-4's registers span a few pages; RAM holds the EEPROM's own.
    EXPECT_LE(m.eeprom.heldBytes(), 3 * SimMemory::kPageSize);
    const std::size_t reg = SimMeter::configBase(kModelKX4);
    EXPECT_TRUE(m.ram.pageShared(m.eeprom, reg));

    m.ram[reg] = static_cast<std::uint8_t>(m.ram[reg] + 1);
    EXPECT_FALSE(m.ram.pageShared(m.eeprom, reg)) << "written: a page of its own";
    EXPECT_FALSE(m.ram == m.eeprom);
    EXPECT_NE(m.configValue(0), m.configValue(0, true)) << "the EEPROM is not changed through RAM";
    EXPECT_TRUE(m.ram.equalRange(m.eeprom, reg + 1, SimMemory::kSize));

    // A store copies page by page, the bytes around the live values aside.
    m.ram[SimMeter::kLiveBase] = 0x55;
    m.ram[40000] = 0x77;
    m.storing = true;
    m.storeSource = m.ram;
    m.busyUntil = std::chrono::hours(1);
    m.commitStore(m.busyUntil);
    EXPECT_EQ(m.eeprom[reg], m.ram[reg]);
    EXPECT_EQ(m.eeprom[40000], 0x77);
    EXPECT_EQ(m.eeprom[SimMeter::kLiveBase], 0) << "live values are not settings";
    EXPECT_TRUE(m.ramMatchesEeprom());
}

// A file larger than the reader takes is never replaced by factory meters:
// the start stops with the reason, and no store can write such a file.
TEST(SimStateSize, AFileTooLargeStopsTheStartAndIsNeverWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("VardelSim.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(kSimStateLimit + 1)); // sparse
    }
    QStringList messages;
    EXPECT_FALSE(SimCard::create({path, {}}, messages));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Nie można wczytać pliku stanu symulatora %1: plik jest za duży")
                                           .arg(QDir::toNativeSeparators(path))))
        << messages[0].toStdString();
    EXPECT_EQ(QFileInfo(path).size(), kSimStateLimit + 1);

    QString reason;
    EXPECT_FALSE(writeSimStateBytes(path, QByteArray(kSimStateLimit + 1, ';'), &reason));
    EXPECT_EQ(reason, QStringLiteral("stan sieci zająłby 17 MB, więcej niż 16 MB, które program wczytuje"));
    EXPECT_TRUE(writeSimStateBytes(path, QByteArray(kSimStateLimit, ';'), &reason)) << reason.toStdString();
}

} // namespace
} // namespace vardel

namespace vardel {
namespace {

// Users of one group share the simulated card in a group folder: the state
// file the first of them makes is the group's to write, whatever her umask.
TEST(SimStateShared, TheStateFileInAGroupFolderIsTheGroups)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString shared = dir.filePath(QStringLiteral("linia"));
    ASSERT_TRUE(QDir().mkdir(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 02770), 0);
    const QString path = QDir(shared).filePath(QStringLiteral("VardelSim.txt"));
    const mode_t before = ::umask(077);
    QStringList messages;
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);
    storeThroughLink(*card, 2);
    ::umask(before);
    EXPECT_TRUE(card->takeMessages().isEmpty());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0660, 0660u);
    EXPECT_EQ(st.st_mode & 0007, 0u) << "nothing given to others";
}

} // namespace
} // namespace vardel

namespace vardel {
namespace {

// A meter moved onto another's address has a section of its own: its
// stores never overwrite the other meter's.
TEST(SimStateShared, AMeterMovedOntoAnothersAddressKeepsItsOwnSection)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("VardelSim.txt"));
    QStringList messages;
    auto card = SimCard::create({path, {}}, messages);
    ASSERT_TRUE(card);
    SimMeter* kx3 = card->meterAt(2);
    kx3->setConfigValue(0, 1.0f); // onto the KX-2's address
    storeThroughLink(*card, 2);
    card->passTime(std::chrono::seconds(5));
    Module1 link(*card);
    link.MeterAddress = 2;
    link.CardSetLink();
    link.SendMeterReset();
    card->passTime(std::chrono::seconds(5));
    ASSERT_TRUE(card->saveChanges());
    for (const float value : {7.0f, 8.0f}) {
        card->meters()[1].setConfigValue(9, value);
        card->meters()[1].changed = true;
        ASSERT_TRUE(card->saveChanges());
    }

    SimStateData filed;
    QString reason;
    ASSERT_EQ(loadSimState(path, filed, &reason), SimStateLoad::Loaded) << reason.toStdString();
    ASSERT_EQ(filed.meters.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(filed.meters[i].model, static_cast<std::int16_t>(i));
        EXPECT_EQ(filed.meters[i].address, i == 2 ? 3 : 1);
    }
    EXPECT_EQ(filed.meters[1].configValue(9), 8.0f);
}

} // namespace
} // namespace vardel
