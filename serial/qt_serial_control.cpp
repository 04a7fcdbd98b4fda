// SPDX-License-Identifier: MIT
#include "qt_serial_control.h"

#include "device_error.h"
#include "port1.h"

#include <QFileInfo>

#include <cerrno>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {

namespace {

// Beyond the wire time of what was written, how long a drain waits for the line.
constexpr std::chrono::milliseconds kDrainGrace{1000};
constexpr std::chrono::milliseconds kDrainPollInterval{1};

SerialFault faultOfWriteError(int error)
{
    switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
        return SerialFault::LineLost;
    default:
        return SerialFault::Other;
    }
}

PropertyWrite failedSystemCall(int error)
{
    return PropertyWrite::failed(faultOfWriteError(error), systemError(error));
}

PropertyWrite invalidValue(const QString &why)
{
    return PropertyWrite::failed(SerialFault::InvalidValue, why);
}

PropertyWrite notOpen()
{
    return invalidValue(QStringLiteral("พอร์ตยังไม่ได้เปิด"));
}

QSerialPort::Parity toQt(Parity parity)
{
    switch (parity) {
    case Parity::None: return QSerialPort::NoParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

int pollMilliseconds(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

QtSerialControl::QtSerialControl(Port1Places port1, QString lockFolder)
    : m_port1(std::move(port1))
    , m_claim(std::move(lockFolder))
{
}

QtSerialControl::~QtSerialControl()
{
    // Only reached with the port open if the window goes while a send is under way.
    if (m_port.isOpen())
        close();
}

QString QtSerialControl::deviceForPort(std::int16_t port) const
{
    return port == 1 ? choosePort1(m_port1) : QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

PropertyWrite QtSerialControl::setCommPort(std::int16_t port)
{
    if (port < 1)
        return invalidValue(QStringLiteral("หมายเลขพอร์ต %1 ไม่ถูกต้อง").arg(port));
    if (m_port.isOpen())
        return invalidValue(QStringLiteral("เปลี่ยนพอร์ตขณะเปิดอยู่ไม่ได้"));
    m_commPort = port;
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setSettings(const QString &settings)
{
    const std::optional<LineSettings> parsed = parseLineSettings(settings);
    if (!parsed)
        return invalidValue(QStringLiteral("การตั้งค่า \"%1\" ไม่ถูกต้อง").arg(settings));
    m_settings = *parsed;
    if (m_port.isOpen() && !applySettings())
        return PropertyWrite::failed(SerialFault::SettingsRefused, m_port.errorString());
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setInputLen(std::int16_t length)
{
    // The tool never reads, so the value is only checked.
    if (length < 0)
        return invalidValue(QStringLiteral("ความยาวข้อมูลรับ %1 ไม่ถูกต้อง").arg(length));
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return open ? invalidValue(QStringLiteral("พอร์ตเปิดอยู่แล้ว")) : PropertyWrite::done();
    return named(open ? this->open() : close());
}

PropertyWrite QtSerialControl::setOutput(const QString &character)
{
    if (character.size() != 1 || character.at(0).unicode() > 0xFF)
        return invalidValue(QStringLiteral("ส่งออกได้ครั้งละหนึ่งอักขระที่มีรหัส 0 ถึง 255"));
    if (!m_port.isOpen())
        return notOpen();
    m_pending.append(static_cast<char>(character.at(0).unicode()));
    ++m_bytesWritten;
    return named(writePending());
}

PropertyWrite QtSerialControl::drainOutput()
{
    if (!m_port.isOpen())
        return notOpen();
    return named(drain(drainDeadline()));
}

PropertyWrite QtSerialControl::named(PropertyWrite result) const
{
    if (!result.ok() && result.device.isEmpty())
        result.device = m_device;
    return result;
}

PropertyWrite QtSerialControl::open()
{
    m_device = deviceForPort(m_commPort);
    if (m_settings.stopBits == StopBits::OneAndHalf)
        return PropertyWrite::failed(SerialFault::SettingsRefused, QStringLiteral("ระบบนี้ตั้งบิตหยุด 1.5 บิตไม่ได้"));
    PropertyWrite opened = m_device.isEmpty() ? PropertyWrite::failed(SerialFault::NoSuchPort, QString())
                                              : openDevice();
    if (opened.fault == SerialFault::NoSuchPort && m_commPort == 1)
        opened.serialDevices = serialPorts(m_port1) + serialAdapters(m_port1);
    return opened;
}

PropertyWrite QtSerialControl::openDevice()
{
    // Every path to one device must meet the same locks.
    const QString realPath = QFileInfo(m_device).canonicalFilePath();
    if (realPath.isEmpty())
        return PropertyWrite::failed(SerialFault::NoSuchPort, systemError(ENOENT));
    if (PropertyWrite claimed = m_claim.claim(realPath); !claimed.ok())
        return claimed;

    m_port.setPortName(realPath);
    // Opened for writing only: the tool never reads, and nothing from the bus
    // should reach the port while the confirmation waits.
    if (!m_port.open(QIODevice::WriteOnly))
        return refusalAfterClaim(realPath);
    if (!applySettings()) {
        PropertyWrite refused = PropertyWrite::failed(SerialFault::SettingsRefused, m_port.errorString());
        m_port.close();
        m_claim.release();
        return refused;
    }

    m_pending.clear();
    m_bytesWritten = 0;
    return PropertyWrite::done();
}

// QSerialPort tells no errno: its PermissionError stands for a live lock, one
// it cannot remove, no writable lock folder, EACCES and EBUSY alike. So look
// again at the locks and the device, and say what is there; never guess.
PropertyWrite QtSerialControl::refusalAfterClaim(const QString &realPath)
{
    const QString qtWords = m_port.errorString();
    m_claim.release();
    PropertyWrite found = m_claim.checkLockFiles(realPath);
    if (!QFileInfo::exists(realPath))
        found = PropertyWrite::failed(SerialFault::NoSuchPort, QString());
    else if (found.ok() && !QFileInfo(m_claim.lockFolder()).isWritable())
        found = PropertyWrite::failed(SerialFault::NoLockFolder, QString());
    else if (found.ok())
        found = PropertyWrite::failed(SerialFault::Other, QString());
    found.description = (found.description + u'\n' + qtWords).trimmed();
    return found;
}

bool QtSerialControl::applySettings()
{
    const auto stopBits = m_settings.stopBits == StopBits::Two ? QSerialPort::TwoStop : QSerialPort::OneStop;
    return m_port.setBaudRate(m_settings.baudRate)
           && m_port.setDataBits(static_cast<QSerialPort::DataBits>(m_settings.dataBits))
           && m_port.setParity(toQt(m_settings.parity)) && m_port.setStopBits(stopBits)
           && m_port.setFlowControl(QSerialPort::NoFlowControl);
}

// QSerialPort::write() only fills a buffer that its event loop empties later, and
// its flush() blocks in tcdrain() without a bound; so bytes go straight to the
// descriptor it opened, which is non-blocking. A full kernel buffer leaves the
// rest pending for the close; any other refusal is a failure of this write.
PropertyWrite QtSerialControl::writePending()
{
    while (!m_pending.isEmpty()) {
        const ssize_t written = ::write(m_port.handle(), m_pending.constData(), m_pending.size());
        if (written > 0) {
            m_pending.remove(0, written);
        } else if (written == 0 || errno == EAGAIN) {
            break;  // the kernel takes no more now; the drain waits for room, within its bound
        } else if (errno != EINTR) {
            return failedSystemCall(errno);
        }
    }
    return PropertyWrite::done();
}

QtSerialControl::Clock::time_point QtSerialControl::drainDeadline() const
{
    const auto wireTime = std::chrono::microseconds(
        static_cast<std::int64_t>(static_cast<double>(m_bytesWritten) * characterMicroseconds(m_settings)));
    return Clock::now() + wireTime + kDrainGrace;
}

PropertyWrite QtSerialControl::drainTimedOut() const
{
    return PropertyWrite::failed(SerialFault::DrainTimedOut, QString());
}

PropertyWrite QtSerialControl::drain(Clock::time_point deadline)
{
    const int handle = m_port.handle();
    while (!m_pending.isEmpty()) {
        if (Clock::now() >= deadline)
            return drainTimedOut();
        pollfd writable{.fd = handle, .events = POLLOUT, .revents = 0};
        const int ready = ::poll(&writable, 1, pollMilliseconds(deadline));
        if (ready == 0)
            return drainTimedOut();
        if (ready < 0 && errno != EINTR)
            return failedSystemCall(errno);
        if (PropertyWrite result = writePending(); !result.ok())
            return result;
    }

    for (int queued = 1; queued > 0;) {
        if (::ioctl(handle, TIOCOUTQ, &queued) != 0)
            return failedSystemCall(errno);
        if (queued > 0 && Clock::now() >= deadline)
            return drainTimedOut();
        if (queued > 0)
            std::this_thread::sleep_for(kDrainPollInterval);
    }
    // Only the device's own transmit FIFO can be left; its driver bounds this wait.
    if (::tcdrain(handle) != 0)
        return failedSystemCall(errno);
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::close()
{
    PropertyWrite drained = drain(drainDeadline());
    // Bytes that cannot leave are dropped, so the release cannot block and no
    // stale part of a frame goes out later.
    if (!drained.ok())
        ::tcflush(m_port.handle(), TCOFLUSH);
    m_port.close();
    m_claim.release();
    m_pending.clear();
    return drained;
}

}  // namespace korvantel
