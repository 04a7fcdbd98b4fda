#include "qt_serial_control.h"

#include "device_error.h"

#include <QFileInfo>

#include <cerrno>
#include <thread>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvantel {

namespace {

// Beyond the wire time of what was written, how long a close waits for the line.
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

PropertyWrite failedSystemCall(const QString &what, int error)
{
    return PropertyWrite::failed(faultOfWriteError(error), onDevice(what, systemError(error)));
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

QtSerialControl::QtSerialControl(QString port1Device)
    : m_port1Device(std::move(port1Device))
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
    return port == 1 ? m_port1Device : QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

PropertyWrite QtSerialControl::setCommPort(std::int16_t port)
{
    if (port < 1)
        return PropertyWrite::failed(SerialFault::InvalidValue,
                                     QStringLiteral("Invalid port number %1").arg(port));
    if (m_port.isOpen())
        return PropertyWrite::failed(SerialFault::InvalidValue,
                                     QStringLiteral("Cannot change the port while it is open"));
    m_commPort = port;
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setSettings(const QString &settings)
{
    const std::optional<LineSettings> parsed = parseLineSettings(settings);
    if (!parsed)
        return PropertyWrite::failed(SerialFault::InvalidValue,
                                     QStringLiteral("Invalid line settings \"%1\"; expected baud,parity,"
                                                    "data bits,stop bits such as \"9600,n,8,1\"")
                                         .arg(settings));
    m_settings = *parsed;
    if (m_port.isOpen() && !applySettings())
        return PropertyWrite::failed(SerialFault::SettingsRefused, m_port.errorString());
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setInputLen(std::int16_t length)
{
    // The tool never reads, so the value is only checked.
    if (length < 0)
        return PropertyWrite::failed(SerialFault::InvalidValue,
                                     QStringLiteral("Invalid input length %1").arg(length));
    return PropertyWrite::done();
}

PropertyWrite QtSerialControl::setPortOpen(bool open)
{
    if (open == m_port.isOpen())
        return open ? PropertyWrite::failed(SerialFault::InvalidValue, QStringLiteral("The port is already open"))
                    : PropertyWrite::done();
    return open ? this->open() : close();
}

PropertyWrite QtSerialControl::setOutput(const QString &character)
{
    if (character.size() != 1 || character.at(0).unicode() > 0xFF)
        return PropertyWrite::failed(SerialFault::InvalidValue,
                                     QStringLiteral("Output takes one character with a code from 0 to 255"));
    if (!m_port.isOpen())
        return PropertyWrite::failed(SerialFault::InvalidValue, QStringLiteral("The port is not open"));
    m_pending.append(static_cast<char>(character.at(0).unicode()));
    ++m_bytesWritten;
    return writePending();
}

PropertyWrite QtSerialControl::open()
{
    const QFileInfo device(deviceForPort(m_commPort));
    if (!device.exists())
        return PropertyWrite::failed(SerialFault::NoSuchPort, onDevice(device.filePath(), systemError(ENOENT)));
    if (m_settings.stopBits == StopBits::OneAndHalf)
        return PropertyWrite::failed(SerialFault::SettingsRefused,
                                     QStringLiteral("1.5 stop bits cannot be set on a Linux serial port"));

    // Every path to one device must meet the same locks.
    const QString realPath = device.canonicalFilePath();
    if (PropertyWrite claimed = m_claim.claim(realPath); !claimed.ok())
        return claimed;

    m_port.setPortName(realPath);
    // Opened for writing only: the tool never reads, and nothing from the bus
    // should reach the port while the confirmation waits.
    if (!m_port.open(QIODevice::WriteOnly)) {
        // The device opened for the claim, so a refusal here is a lock file
        // that appeared since.
        const SerialFault fault = m_port.error() == QSerialPort::PermissionError ? SerialFault::PortInUse
                                                                                 : SerialFault::Other;
        m_claim.release();
        return PropertyWrite::failed(fault, onDevice(realPath, m_port.errorString()));
    }
    if (!applySettings()) {
        PropertyWrite refused = PropertyWrite::failed(SerialFault::SettingsRefused,
                                                      onDevice(realPath, m_port.errorString()));
        m_port.close();
        m_claim.release();
        return refused;
    }

    m_pending.clear();
    m_bytesWritten = 0;
    return PropertyWrite::done();
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
        } else if (written < 0 && errno == EAGAIN) {
            break;
        } else if (written < 0 && errno != EINTR) {
            return failedSystemCall(m_port.portName(), errno);
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
    return PropertyWrite::failed(SerialFault::DrainTimedOut,
                                 onDevice(m_port.portName(), QStringLiteral("the written bytes did not leave the port in time")));
}

PropertyWrite QtSerialControl::drain(Clock::time_point deadline)
{
    const int handle = m_port.handle();
    while (!m_pending.isEmpty()) {
        pollfd writable{handle, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, pollMilliseconds(deadline));
        if (ready == 0)
            return drainTimedOut();
        if (ready < 0 && errno != EINTR)
            return failedSystemCall(m_port.portName(), errno);
        if (PropertyWrite result = writePending(); !result.ok())
            return result;
    }

    for (int queued = 1; queued > 0;) {
        if (::ioctl(handle, TIOCOUTQ, &queued) != 0)
            return failedSystemCall(m_port.portName(), errno);
        if (queued > 0 && Clock::now() >= deadline)
            return drainTimedOut();
        if (queued > 0)
            std::this_thread::sleep_for(kDrainPollInterval);
    }
    // Only the device's own transmit FIFO can be left; its driver bounds this wait.
    if (::tcdrain(handle) != 0)
        return failedSystemCall(m_port.portName(), errno);
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
