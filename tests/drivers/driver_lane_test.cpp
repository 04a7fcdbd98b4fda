// SPDX-License-Identifier: MIT
// Runs inside the guest that scripts/check-drivers boots, against the kernel's
// own drivers and the release's own udev: the machine's own UART, a PC's ghost
// ports, a PCI card's four ports, three FTDI adapters on ftdi_sio (ftdi1 and
// ftdi2 sharing a serial number). What reaches each line is checked on the
// host against the "expect" lines this binary prints.

#include "lock_files.h"
#include "port1.h"
#include "qt_serial_control.h"
#include "send_action.h"

#include "support/account.h"
#include "support/interrupted_control.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include <csignal>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {
namespace {

using namespace std::chrono_literals;

// Per machine: its own UART (the host's "s1") and how a rule finds it; the
// 8250 driver's ghosts of legacy ports, which only a PC has; the PCI card's
// ports (c1 to c4); other UARTs (a PC's first is the guest's console).
// A board's UART is port 1 only by an alias (kUartAlias). With none, the
// installed programs' built-in name is no port 1 (kNoBuiltInPort1).
#if defined(__aarch64__)
constexpr const char *kUart = "/dev/ttyAMA0";
const QString kUartRule = QStringLiteral(R"(ATTR{iomem_base}=="0x9000000")");
const QStringList kGhosts;
const QStringList kCard{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};
const QStringList kOtherUarts;
const QString kUartAlias = kUart;
const QString kNoBuiltInPort1 = QStringLiteral("/dev/ttyS0");  // the card's first port
#else
constexpr const char *kUart = "/dev/ttyS1";
const QString kUartRule = QStringLiteral(R"(ATTR{port}=="0x2F8")");
const QStringList kGhosts{"/dev/ttyS2", "/dev/ttyS3"};
const QStringList kCard{"/dev/ttyS4", "/dev/ttyS5", "/dev/ttyS6", "/dev/ttyS7"};
const QStringList kOtherUarts{"/dev/ttyS0"};
const QString kUartAlias;
const QString kNoBuiltInPort1 = QStringLiteral("/dev/ttyS2");  // a ghost
#endif
// A built-in port's place with no port behind it: a ghost, or a name of nothing.
const QString kNoPort = kGhosts.value(0, QStringLiteral("/dev/ttyS9"));

const QString kAlias = QStringLiteral("/tmp/korvantel-port1");
const QString kMayBeIncomplete = QStringLiteral("ข้อมูลอาจส่งไม่ครบ");
const QString kSentThenFailed = QStringLiteral("ส่งข้อมูลครบแล้ว ไม่ต้องส่งซ้ำ");
const FieldTexts kInitialTexts{"1", "1", "255"};
const QByteArray kInitialFrame = "fd0001010100fffe";

// The adapters by their /dev names: the twins' by-id names are one.
Port1Places places(const QString &builtIn, const QStringList &adapterPatterns = {"/dev/ttyUSB*"})
{
    return {kAlias, builtIn, adapterPatterns, {}, "/sys/class/tty", {}};
}

void pointAlias(const QString &target)
{
    QFile::remove(kAlias);
    if (!target.isEmpty())
        QFile::link(target, kAlias);
}

// The host compares each chardev with what these lines announce, in order;
// a cut frame may have left any prefix of its bytes.
void expectOnLine(const char *chardev, const QByteArray &hex, bool mayBeCut = false)
{
    std::cout << "expect " << chardev << ' ' << hex.toStdString() << (mayBeCut ? " prefix" : "") << std::endl;
}

// The host answers these with QMP, as a person pulling and plugging the adapter.
void askTheHost(const char *request)
{
    std::cout << "host: " << request << std::endl;
}

// The tty of the FTDI adapter on a USB port ("1-1"), or nothing while it is gone.
QString adapterOn(const QString &usbPort)
{
    const QDir ttys("/sys/class/tty");
    for (const QString &name : ttys.entryList({"ttyUSB*"}, QDir::AllEntries | QDir::System)) {
        if (QFileInfo(ttys.filePath(name + "/device")).canonicalFilePath().contains("/" + usbPort + ":"))
            return "/dev/" + name;
    }
    return {};
}

// A device by its /dev name, or the FTDI adapter on a USB port ("1-1").
QString deviceAt(const QString &where)
{
    return where.startsWith("/dev/") ? where : adapterOn(where);
}

QByteArray ttyAttribute(const QString &tty, const QString &attribute)
{
    QFile file("/sys/class/tty/" + tty + "/" + attribute);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

bool waitFor(const std::function<bool()> &condition, std::chrono::seconds limit = 30s)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (std::chrono::milliseconds(clock.elapsed()) > limit)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// Dismisses every message at once, after `whileConfirmationIsUp` for the confirmation.
class Operator final : public MessagePresenter
{
public:
    std::function<void()> whileConfirmationIsUp = [] {};
    QStringList shown;

    void showMessage(Kind kind, const QString &, const QString &text) override
    {
        shown.append(text);
        if (kind == Kind::Confirmation)
            whileConfirmationIsUp();
    }
};

// The line as the driver has it, read through a descriptor of our own.
void expectRaw9600EightNoneOne(const QString &device)
{
    const int handle = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(handle, 0);
    termios line{};
    ASSERT_EQ(::tcgetattr(handle, &line), 0);
    ::close(handle);
    EXPECT_EQ(::cfgetospeed(&line), B9600);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL), 0u);
}

TEST(RealDrivers, FramesArriveByteExactOnARawLineThroughEachDriver)
{
    struct Case
    {
        QString builtIn;
        QString aliasTarget;
        FieldTexts texts;
        const char *chardev;
        QByteArray frame;
    };
    const Case cases[] = {
        {kUart, kUartAlias, kInitialTexts, "s1", kInitialFrame},
        {kUart, kUartAlias, {"3", "12", "40"}, "s1", "fd0001030c0028fe"},
        {kUart, adapterOn("1-1"), kInitialTexts, "u1", kInitialFrame},
        {kUart, adapterOn("1-1"), {"3", "12", "40"}, "u1", "fd0001030c0028fe"},
        {kNoPort, adapterOn("1-2"), kInitialTexts, "u2", kInitialFrame},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chardev + (" " + c.aliasTarget.toStdString()));
        pointAlias(c.aliasTarget);
        QtSerialControl comm(places(c.builtIn), "/var/lock");
        Operator person;
        const QString device = c.aliasTarget.isEmpty() ? c.builtIn : c.aliasTarget;
        person.whileConfirmationIsUp = [&] { expectRaw9600EightNoneOne(device); };
        runSendAction(c.texts, comm, person);
        EXPECT_EQ(person.shown, QStringList{kConfirmationText});
        expectOnLine(c.chardev, c.frame);
    }
    pointAlias({});
}

TEST(RealDrivers, AnOrdinaryUserSendsTwiceInARowAndASecondInstanceIsRefused)
{
    pointAlias(kUartAlias);
    QtSerialControl comm(places(kUart), "/var/lock");
    // A real tty drops TIOCEXCL at its last close, unlike a pseudo-terminal.
    const std::optional<int> confirmed = testing::asAnotherAccount(testing::kNobody, [&] {
        Operator person;
        runSendAction(kInitialTexts, comm, person);
        runSendAction(kInitialTexts, comm, person);
        return static_cast<int>(person.shown.count(kConfirmationText));
    });
    EXPECT_EQ(confirmed, 2);
    expectOnLine("s1", kInitialFrame);
    expectOnLine("s1", kInitialFrame);

    Operator first;
    first.whileConfirmationIsUp = [] {
        for (const uid_t account : {testing::kNobody, uid_t{0}}) {
            SCOPED_TRACE(account);
            const std::optional<int> fault = testing::asAnotherAccount(account, [] {
                QtSerialControl second(places(kUart), "/var/lock");
                second.setSettings("9600,n,8,1");
                return static_cast<int>(second.setPortOpen(true).fault);
            });
            EXPECT_EQ(fault, static_cast<int>(SerialFault::PortInUse));
        }
    };
    runSendAction(kInitialTexts, comm, first);
    EXPECT_EQ(first.shown, QStringList{kConfirmationText});
    expectOnLine("s1", kInitialFrame);
    pointAlias({});
}

TEST(RealDrivers, AGhostPortOrNoPortIsNoSerialPort1AndNothingIsWritten)
{
    if (kGhosts.isEmpty())
        GTEST_SKIP() << "this machine has no ghost ports";
    EXPECT_TRUE(isGhostUart(kNoPort, "/sys/class/tty"));
    EXPECT_FALSE(isGhostUart(kUart, "/sys/class/tty"));
    EXPECT_FALSE(isGhostUart(adapterOn("1-1"), "/sys/class/tty"));
    const QStringList allAdapters{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"};
    struct Case
    {
        const char *name;
        QString builtIn;
        QString aliasTarget;
        QStringList adapterPatterns;
        QString device;  // named in the message
        QStringList adapters;
    };
    const Case cases[] = {
        {"a ghost built-in port and three adapters", kNoPort, {}, {"/dev/ttyUSB*"}, {}, allAdapters},
        {"an alias to a ghost port fails its termios calls", kUart, kGhosts.value(1), {"/dev/ttyUSB*"}, kAlias,
         allAdapters},
        {"an alias to a gone device, and a real built-in port", kUart, "/dev/ttyUSB7", {"/dev/ttyUSB*"}, kAlias,
         allAdapters},
        {"no port at all", kNoPort, {}, {}, {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pointAlias(c.aliasTarget);
        QtSerialControl comm(places(c.builtIn, c.adapterPatterns), "/var/lock");
        Operator person;
        runSendAction(kInitialTexts, comm, person);
        ASSERT_EQ(person.shown.size(), 1);
        EXPECT_TRUE(person.shown.first().startsWith(QStringLiteral("ไม่พบพอร์ตอนุกรม 1 ในเครื่องนี้")))
            << person.shown.first().toStdString();
        for (const QString &named : c.adapters + QStringList{c.device})
            EXPECT_TRUE(person.shown.first().contains(named)) << named.toStdString();
    }
    pointAlias({});
}

void setAuthorized(const QString &usbPort, bool authorized)
{
    QFile file("/sys/bus/usb/devices/" + usbPort + "/authorized");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(authorized ? "1" : "0");
}

TEST(RealDrivers, AnAdapterPulledBetweenTwoWritesIsALostLineAndEverythingIsReleased)
{
    pointAlias(adapterOn("1-1"));
    QtSerialControl comm(places(kUart), "/var/lock");
    testing::InterruptedControl pulledAtTheFourthByte(comm, 3, [] { setAuthorized("1-1", false); });
    Operator person;
    QElapsedTimer clock;
    clock.start();
    runSendAction(kInitialTexts, pulledAtTheFourthByte, person);
    std::cout << "pulled mid-frame: reported after " << clock.elapsed() << " ms" << std::endl;
    EXPECT_LT(clock.elapsed(), 3000) << "beyond the drain's bound";
    ASSERT_EQ(person.shown.size(), 1);
    EXPECT_TRUE(person.shown.first().startsWith(QStringLiteral("พอร์ตอนุกรม 1 หายไปจากเครื่องระหว่างใช้งาน")))
        << person.shown.first().toStdString();
    EXPECT_TRUE(person.shown.first().contains(kMayBeIncomplete));
    EXPECT_EQ(QDir("/var/lock").entryList({"LCK..*"}, QDir::Files), QStringList());
    expectOnLine("u1", "fd0001", true);

    setAuthorized("1-1", true);
    ASSERT_TRUE(waitFor([] { return !adapterOn("1-1").isEmpty(); }));
    pointAlias(adapterOn("1-1"));
    Operator again;
    runSendAction(kInitialTexts, comm, again);
    EXPECT_EQ(again.shown, QStringList{kConfirmationText}) << "the port was not released";
    expectOnLine("u1", kInitialFrame);
    pointAlias({});
}

TEST(RealDrivers, AnAdapterPulledAfterAConfirmedFrameSaysTheFrameWasSent)
{
    const QString adapter = adapterOn("1-1");
    pointAlias(adapter);
    QtSerialControl comm(places(kUart), "/var/lock");
    Operator person;
    person.whileConfirmationIsUp = [&] {
        askTheHost("unplug ftdi1");
        EXPECT_TRUE(waitFor([&] { return !QFile::exists(adapter); })) << "the host did not pull the adapter";
    };
    runSendAction(kInitialTexts, comm, person);
    expectOnLine("u1", kInitialFrame);
    ASSERT_EQ(person.shown.size(), 2);
    EXPECT_EQ(person.shown[0], kConfirmationText);
    EXPECT_TRUE(person.shown[1].startsWith(kSentThenFailed)) << person.shown[1].toStdString();
    EXPECT_FALSE(person.shown[1].contains(kMayBeIncomplete));

    askTheHost("plug ftdi1 1");
    ASSERT_TRUE(waitFor([] { return !adapterOn("1-1").isEmpty(); }));
    pointAlias(adapterOn("1-1"));
    Operator again;
    runSendAction(kInitialTexts, comm, again);
    EXPECT_EQ(again.shown, QStringList{kConfirmationText});
    expectOnLine("u1", kInitialFrame);
    pointAlias({});
}

// The person at the machine moves an adapter; the guest waits until it has.
void replug(const QString &id, const QString &from, const QString &to)
{
    askTheHost(qPrintable("unplug " + id));
    ASSERT_TRUE(waitFor([&] { return adapterOn(from).isEmpty(); })) << "the host did not pull " << id.toStdString();
    askTheHost(qPrintable("plug " + id + " " + to.section(u'-', 1)));
    ASSERT_TRUE(waitFor([&] { return !adapterOn(to).isEmpty(); })) << "the host did not plug " << id.toStdString();
}

const QDir kCardDriver("/sys/bus/pci/drivers/serial");

// The PCI card, the one device of the kernel's driver for PCI serial cards.
QString theCard()
{
    return kCardDriver.entryList({"0000:*"}, QDir::AllEntries | QDir::System).value(0);
}

// The card's driver lets go of it and takes it again, as at a driver's reload:
// its ports go and appear anew, and the alias with them.
void rebindTheCard()
{
    const QString card = theCard();
    ASSERT_FALSE(card.isEmpty());
    for (const char *action : {"unbind", "bind"}) {
        QFile file(kCardDriver.filePath(action));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(card.toLatin1());
        file.close();
        if (*action == 'u') {
            ASSERT_TRUE(waitFor([] { return !QFileInfo::exists("/dev/korvantel-port1"); })) << "the alias outlived the card";
        }
    }
}

// What a command run again must leave as it was: the rules file, and udev's
// record of the alias's device, which each event rewrites.
QList<std::pair<ino_t, qint64>> stamps()
{
    QStringList files{"/etc/udev/rules.d/99-korvantel-port1.rules"};
    struct stat device{};
    if (::stat("/dev/korvantel-port1", &device) == 0)
        files.append(QStringLiteral("/run/udev/data/c%1:%2").arg(major(device.st_rdev)).arg(minor(device.st_rdev)));
    QList<std::pair<ino_t, qint64>> stamps;
    for (const QString &file : files) {
        struct stat status{};
        const bool there = ::stat(QFile::encodeName(file).constData(), &status) == 0;
        stamps.append({there ? status.st_ino : 0, there ? status.st_mtim.tv_sec * 1'000'000'000 + status.st_mtim.tv_nsec : 0});
    }
    return stamps;
}

// As gpasswd -a nobody dialout leaves the group database: the guest has no gpasswd.
void grantNobody()
{
    QFile group("/etc/group");
    ASSERT_TRUE(group.open(QIODevice::ReadOnly));
    const QByteArray granted = group.readAll().replace("\ndialout:x:20:\n", "\ndialout:x:20:nobody\n");
    group.close();
    ASSERT_TRUE(group.open(QIODevice::WriteOnly | QIODevice::Truncate));
    group.write(granted);
}

// Another program: a process of `account` with none of its groups, holding
// port 1 open where it may, until it is let go.
pid_t anotherProgram = 0;
void startAnotherProgram(uid_t account)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    anotherProgram = testing::startAsAnotherAccount(account, [&] {
        ::open("/dev/korvantel-port1", O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::write(ready[1], "!", 1);
        ::pause();
        return 0;
    });
    char sign = 0;
    ::close(ready[1]);
    ASSERT_EQ(::read(ready[0], &sign, 1), 1);
    ::close(ready[0]);
}
void endAnotherProgram()
{
    ::kill(anotherProgram, SIGKILL);
    ::waitpid(anotherProgram, nullptr, 0);
}

// korvantel-port1 as installed, against the release's own udev: each row a
// command and the account that runs it, what the rules file then holds, what
// a person does with the devices, then where the alias points and which line
// a frame sent through port 1 reaches.
TEST(RealDrivers, TheAdministratorsCommandMakesAnAdapterPort1AsItSays)
{
    struct Row
    {
        const char *name;
        uid_t account;
        QStringList arguments;
        int exitCode;
        QString rule;  // in the rules file afterwards; empty: no rules file
        std::function<void()> person;
        QString aliasOn;  // its device (deviceAt), empty for no alias
        const char *chardev;  // where a frame through port 1 goes; "" for no port 1
        bool untouched = false;  // nothing written, and no udev event (stamps)
        const char *says = "";  // the command's output holds it
        std::function<void()> before = [] {};
    };
    const auto check = [](std::initializer_list<QString> arguments) { return QStringList{"check"} + arguments; };
    const QString serialRule = R"(ENV{ID_SERIAL_SHORT}=="KVUNIQ01")";
    const QString cardRule = QStringLiteral(R"(SUBSYSTEMS=="pci", KERNELS=="%1", ATTR{port}=="%2")")
                                 .arg(theCard(), ttyAttribute(QFileInfo(kCard[1]).fileName(), "port"));
    const Row rows[] = {
        {"the adapter with a serial number of its own; the alias follows it to another socket", 0,
         {"assign", adapterOn("1-3")}, 0, serialRule, [] { replug("ftdi3", "1-3", "1-4"); }, "1-4", "u3"},
        {"an ordinary account may not assign, and nothing changes", testing::kNobody, {"assign", adapterOn("1-1")}, 1,
         serialRule, [] {}, "1-4", "u3"},
        {"the machine's own UART, by its place and address", 0, {"assign", kUart}, 0, kUartRule, [] {}, kUart, "s1"},
        {"a ghost port, or where there is none a name of nothing, is refused, and nothing changes", 0,
         {"assign", kNoPort}, 1, kUartRule, [] {}, kUart, "s1"},
        {"the card's second port, by the card and its address; the card's driver lets go and takes it again", 0,
         {"assign", kCard[1]}, 0, cardRule, rebindTheCard, kCard[1], "c2"},
        {"the same assign again is unchanged", 0, {"assign", kCard[1]}, 0, cardRule, [] {}, kCard[1], "c2", true},
        {"a dry run, by an ordinary account, changes nothing", testing::kNobody, {"assign", "--dry-run", kCard[2]}, 0,
         cardRule, [] {}, kCard[1], "c2", true, "ไม่มีอะไรถูกเปลี่ยน (--dry-run)"},
        {"a dry run in JSON: changed says what assign would change", testing::kNobody,
         {"--json", "assign", "--dry-run", kCard[2]}, 0, cardRule, [] {}, kCard[1], "c2", true, R"({"changed":true,)"},
        {"a dry run of the rule in place is unchanged", testing::kNobody, {"--json", "assign", "--dry-run", kCard[1]}, 0,
         cardRule, [] {}, kCard[1], "c2", true, R"({"changed":false,)"},
        {"the version", testing::kNobody, {"--version"}, 0, cardRule, [] {}, kCard[1], "c2", true,
         "korvantel-port1 " KORVANTEL_VERSION "\n"},
        {"check: ready once port 1 is assigned and the account granted", 0, check({"nobody"}), 0, cardRule, [] {},
         kCard[1], "c2", true, "เครื่องนี้พร้อมส่งข้อมูล", grantNobody},
        {"check, in JSON: the same", 0, {"--json", "check", "nobody"}, 0, cardRule, [] {}, kCard[1], "c2", true,
         R"("ready":true})"},
        {"check: not ready while another program holds port 1, and names it", 0, check({}), 1, cardRule, [] {},
         kCard[1], "c2", true, "driver_lane_tes (โปรเซสหมายเลข", [] { startAnotherProgram(0); }},
        {"check, in JSON, while it holds port 1", 0, {"--json", "check"}, 1, cardRule, endAnotherProgram, kCard[1],
         "c2", true, R"({"name":"holder","ok":false,"text":"พอร์ตอนุกรม 1 ถูกใช้อยู่โดย driver_lane_tes)"},
        {"check: not ready while an account's process lacks the group, and names the account", 0, check({"nobody"}), 1,
         cardRule, endAnotherProgram, kCard[1], "c2", true, "บัญชีผู้ใช้ nobody อยู่ในกลุ่ม dialout แล้ว แต่โปรเซส",
         [] { startAnotherProgram(testing::kNobody); }},
        {"one of two with one serial number, by its socket: the twins swap sockets, the alias stays", 0,
         {"assign", adapterOn("1-1")}, 0, R"(-usb-0:1:1.0")",
         [] { replug("ftdi1", "1-1", "1-3"); replug("ftdi2", "1-2", "1-1"); replug("ftdi1", "1-3", "1-2"); }, "1-1",
         "u2"},
        {"clear: no port 1; the real ports and the adapters named", 0, {"clear"}, 0, {}, [] {}, "", ""},
        {"clear again: unchanged", 0, {"clear"}, 0, {}, [] {}, "", "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::cout << "row: " << row.name << std::endl;
        row.before();
        // What an earlier row set going in udev ends first: the stamps are this command's alone.
        QProcess::execute("udevadm", {"settle"});
        const auto before = stamps();
        int output[2];
        ASSERT_EQ(::pipe(output), 0);
        EXPECT_EQ(testing::asAnotherAccount(row.account, [&] {
                      QList<QByteArray> arguments{"korvantel-port1"};
                      for (const QString &argument : row.arguments)
                          arguments.append(argument.toLocal8Bit());
                      std::vector<char *> argv;
                      for (QByteArray &argument : arguments)
                          argv.push_back(argument.data());
                      argv.push_back(nullptr);
                      ::dup2(output[1], STDOUT_FILENO);
                      return ::execv("/bin/korvantel-port1", argv.data());
                  }),
                  row.exitCode);
        ::close(output[1]);
        QFile said;
        ASSERT_TRUE(said.open(output[0], QIODevice::ReadOnly, QFile::AutoCloseHandle));
        const QString text = QString::fromUtf8(said.readAll());
        std::cout << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(row.says))) << row.says;
        if (row.untouched) {
            EXPECT_EQ(stamps(), before);
        }
        QFile rules("/etc/udev/rules.d/99-korvantel-port1.rules");
        ASSERT_EQ(rules.open(QIODevice::ReadOnly), !row.rule.isEmpty());
        EXPECT_TRUE(row.rule.isEmpty() || rules.readAll().contains(row.rule.toUtf8())) << row.rule.toStdString();
        row.person();
        const QString aliasTarget = row.aliasOn.isEmpty() ? QString() : deviceAt(row.aliasOn);
        EXPECT_TRUE(waitFor([&] { return QFileInfo("/dev/korvantel-port1").canonicalFilePath() == aliasTarget; }));

        QtSerialControl comm(
            {"/dev/korvantel-port1", kNoBuiltInPort1, {"/dev/ttyUSB*"}, "/dev/serial/by-id", "/sys/class/tty", "/dev"},
            "/var/lock");
        Operator person;
        runSendAction(kInitialTexts, comm, person);
        ASSERT_EQ(person.shown.size(), 1);
        if (*row.chardev) {
            EXPECT_EQ(person.shown.first(), kConfirmationText);
            expectOnLine(row.chardev, kInitialFrame);
        } else {
            std::cout << "operator: " << person.shown.first().toStdString() << std::endl;
            EXPECT_TRUE(person.shown.first().startsWith(QStringLiteral("ไม่พบพอร์ตอนุกรม 1 ในเครื่องนี้")));
            const QStringList uarts = QStringList{kUart} + kOtherUarts + kCard;
            for (const QString &uart : uarts)
                EXPECT_TRUE(person.shown.first().contains(uart + "\n")) << uart.toStdString();
            EXPECT_TRUE(person.shown.first().contains("usb-QEMU_QEMU_USB_SERIAL_KVUNIQ01"));
            for (const QString &ghost : kGhosts)
                EXPECT_FALSE(person.shown.first().contains(ghost)) << "a ghost named";
            EXPECT_EQ(person.shown.first().count("\n  /dev/"), uarts.size() + 3) << person.shown.first().toStdString();
        }
    }
}

}  // namespace
}  // namespace korvantel
