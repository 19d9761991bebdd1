#include "rig/HamlibRig.h"

#include <hamlib/rig.h>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <mutex>
#include <system_error>
#include <utility>

namespace quillon {

namespace {

// hamlib keeps process-wide state (backend tables, its debug buffers): one call at a time.
std::mutex &hamlibMutex()
{
    static std::mutex m;
    return m;
}

// Called with the lock held, before any other hamlib call.
void silenceHamlib()
{
    static std::once_flag once;
    std::call_once(once, [] { rig_set_debug(RIG_DEBUG_NONE); });
}

std::string hamlibReason(int code)
{
    std::string text = rigerror2(code);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool needsPort(rig_port_t type)
{
    // hamlib's default serial port would be /dev/ttyS0, often the machine's console.
    return type == RIG_PORT_SERIAL || type == RIG_PORT_NETWORK || type == RIG_PORT_UDP_NETWORK;
}

// An open file descriptor, closed with its owner.
class Socket
{
public:
    explicit Socket(int fd = -1) : m_fd(fd) {}
    ~Socket() { reset(); }
    Socket(Socket &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Socket &operator=(Socket &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    int get() const { return m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

std::string errnoText(int error)
{
    return std::generic_category().message(error);
}

// Opens a TCP connection to host:port within timeoutMs for all the host's addresses
// together, into `connection`. Empty on success, otherwise why not.
std::string tryConnect(const std::string &host, int port, int timeoutMs, Socket &connection)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (lookup != 0)
        return "the host \"" + host + "\" is unknown (" + ::gai_strerror(lookup) + ")";
    const std::unique_ptr<addrinfo, void (*)(addrinfo *)> addresses(list, ::freeaddrinfo);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string noAnswer = "no answer within " + std::to_string(timeoutMs) + " ms";
    std::string reason = noAnswer;
    for (const addrinfo *a = list; a; a = a->ai_next) {
        Socket s(
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (s.get() < 0) {
            reason = errnoText(errno);
            continue;
        }
        if (::connect(s.get(), a->ai_addr, a->ai_addrlen) == 0) {
            connection = std::move(s);
            return {};
        }
        if (errno != EINPROGRESS) {
            reason = errnoText(errno);
            continue;
        }
        int ready = 0;
        do {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                ready = 0;
                break;
            }
            pollfd p{s.get(), POLLOUT, 0};
            ready = ::poll(&p, 1, static_cast<int>(left.count()));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0)
            return noAnswer;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0) {
            connection = std::move(s);
            return {};
        }
        reason = errnoText(error);
    }
    return reason;
}

bool parsePort(std::string_view text, int &port)
{
    int value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

bool splitHostPort(const std::string &address, std::string &host, int &port)
{
    constexpr int kRigctldPort = 4532;
    port = kRigctldPort;
    if (!address.empty() && address.front() == '[') {
        const auto close = address.find(']');
        if (close == std::string::npos)
            return false;
        host = address.substr(1, close - 1);
        const std::string_view rest = std::string_view(address).substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !parsePort(rest.substr(1), port)))
            return false;
        return !host.empty();
    }
    const auto colon = address.find(':');
    if (colon != std::string::npos && address.find(':', colon + 1) == std::string::npos) {
        host = address.substr(0, colon);
        if (!parsePort(std::string_view(address).substr(colon + 1), port))
            return false;
    } else {
        host = address; // a host alone, or a bare IPv6 address
    }
    return !host.empty();
}

void HamlibRig::RigDeleter::operator()(s_rig *rig) const
{
    // With the hamlib lock held (every place that lets go of the rig holds it).
    rig_cleanup(rig);
}

HamlibRig::HamlibRig(const RigSettings &settings) : m_settings(settings)
{
    const std::lock_guard lock(hamlibMutex());
    silenceHamlib();
    const rig_model_t model = m_settings.hamlibModel;
    rig_check_backend(model);
    const rig_caps *caps = rig_get_caps(model);
    const std::string number = "(hamlib model " + std::to_string(model) + ")";
    if (!caps) {
        m_name = number;
        return;
    }
    m_networkPort = caps->port_type == RIG_PORT_NETWORK;
    m_name = std::string(caps->mfg_name) + " " + caps->model_name + " " + number;
    if (caps->port_type != RIG_PORT_NONE && !m_settings.port.empty())
        m_name += " at " + m_settings.port;
}

HamlibRig::~HamlibRig()
{
    close();
}

RigResult HamlibRig::failure(RigError error, const std::string &what, int hamlibCode) const
{
    return rigFailure(*this, error, what, hamlibReason(hamlibCode));
}

RigResult HamlibRig::notOpen(const std::string &what) const
{
    return rigFailure(*this, RigError::NotOpen, what, "it is not connected");
}

RigResult HamlibRig::open()
{
    close();
    const std::string what = "connecting";
    const std::string &port = m_settings.port;

    // hamlib connects without a time-out of its own: a host that drops the connection
    // attempt would hold rig_open for minutes. So the address is tried first, without the
    // hamlib lock held. The trial connection stays open until hamlib's own is made: rigctld
    // 4.5 closes the socket of a client that left more than once, and a trial connection
    // ending while hamlib's is accepted could close hamlib's.
    Socket trial;
    if (m_networkPort && !port.empty()) {
        std::string host;
        int tcpPort = 0;
        if (!splitHostPort(port, host, tcpPort))
            return rigFailure(*this, RigError::Settings, what,
                              "the port \"" + port + "\" is not host:port");
        const std::string reason = tryConnect(host, tcpPort, m_settings.timeoutMs, trial);
        if (!reason.empty()) {
            const bool rigctld = m_settings.hamlibModel == kHamlibNetRigctlModel;
            return rigFailure(*this, RigError::Connect, what,
                              reason + (rigctld ? " (is rigctld running there?)" : ""));
        }
    }

    const std::lock_guard lock(hamlibMutex());
    std::unique_ptr<s_rig, RigDeleter> rig(rig_init(m_settings.hamlibModel));
    if (!rig)
        return rigFailure(*this, RigError::Settings, what, "hamlib knows no such rig model");
    const rig_port_t type = rig->caps->port_type;
    if (port.empty() && needsPort(type))
        return rigFailure(*this, RigError::Settings, what,
                          type == RIG_PORT_SERIAL
                              ? "no port is set (a serial device such as /dev/ttyUSB0)"
                              : "no port is set (host:port of the rig's server)");
    const auto setConf = [&rig](const char *name, const std::string &value) {
        return rig_set_conf(rig.get(), rig_token_lookup(rig.get(), name), value.c_str());
    };
    if (type != RIG_PORT_NONE && !port.empty() && setConf("rig_pathname", port) != RIG_OK)
        return rigFailure(*this, RigError::Settings, what,
                          "hamlib does not take the port \"" + port + "\"");
    const int baud = m_settings.baudRate;
    if (type == RIG_PORT_SERIAL && baud > 0) {
        // Checked here: hamlib takes any number and only rig_open fails, as "Invalid
        // configuration".
        const rig_caps *caps = rig->caps;
        if (baud < caps->serial_rate_min || baud > caps->serial_rate_max ||
            setConf("serial_speed", std::to_string(baud)) != RIG_OK)
            return rigFailure(*this, RigError::Settings, what,
                              std::to_string(baud) + " baud is not offered (" +
                                  std::to_string(caps->serial_rate_min) + " to " +
                                  std::to_string(caps->serial_rate_max) + " baud)");
    }
    if (setConf("timeout", std::to_string(m_settings.timeoutMs)) != RIG_OK ||
        setConf("retry", std::to_string(m_settings.retries)) != RIG_OK)
        return rigFailure(*this, RigError::Settings, what, "hamlib does not take the time-outs");
    // Every read asks the receiver: from the cache, a read after the receiver went away
    // would succeed with the last value.
    rig_set_cache_timeout_ms(rig.get(), HAMLIB_CACHE_ALL, 0);

    if (const int e = rig_open(rig.get()); e != RIG_OK)
        return failure(RigError::Connect, what, e);
    m_rig = std::move(rig);
    m_open = true;
    return {};
}

void HamlibRig::close()
{
    const std::lock_guard lock(hamlibMutex());
    if (m_open)
        rig_close(m_rig.get());
    m_open = false;
    m_rig.reset();
}

RigResult HamlibRig::setFrequency(double frequencyHz)
{
    const std::string what = "setting the frequency to " + frequencyText(frequencyHz);
    if (!m_open)
        return notOpen(what);
    if (!(std::isfinite(frequencyHz) && frequencyHz > 0.0))
        return rigFailure(*this, RigError::Frequency, what, "that is no frequency");
    const std::lock_guard lock(hamlibMutex());
    if (const int e = rig_set_freq(m_rig.get(), RIG_VFO_CURR, std::round(frequencyHz)); e != RIG_OK)
        return failure(RigError::Frequency, what, e);
    return {};
}

RigResult HamlibRig::readFrequency(double &frequencyHz)
{
    const std::string what = "reading back the frequency";
    if (!m_open)
        return notOpen(what);
    const std::lock_guard lock(hamlibMutex());
    freq_t f = 0;
    if (const int e = rig_get_freq(m_rig.get(), RIG_VFO_CURR, &f); e != RIG_OK)
        return failure(RigError::ReadBack, what, e);
    frequencyHz = f;
    return {};
}

RigResult HamlibRig::setMode(RigMode mode)
{
    const std::string what = std::string("setting the mode to ") + rigModeName(mode);
    if (!m_open)
        return notOpen(what);
    const std::lock_guard lock(hamlibMutex());
    const rmode_t m = mode == RigMode::Cw ? RIG_MODE_CW : RIG_MODE_USB;
    if (const int e = rig_set_mode(m_rig.get(), RIG_VFO_CURR, m, RIG_PASSBAND_NORMAL); e != RIG_OK)
        return failure(RigError::Mode, what, e);
    return {};
}

RigResult HamlibRig::readMode(std::string &mode)
{
    const std::string what = "reading back the mode";
    if (!m_open)
        return notOpen(what);
    const std::lock_guard lock(hamlibMutex());
    rmode_t m = RIG_MODE_NONE;
    pbwidth_t width = 0;
    if (const int e = rig_get_mode(m_rig.get(), RIG_VFO_CURR, &m, &width); e != RIG_OK)
        return failure(RigError::ReadBack, what, e);
    mode = rig_strrmode(m);
    return {};
}

RigResult HamlibRig::setAgcOff(AgcState &agc)
{
    const std::string what = "turning the AGC off";
    if (!m_open)
        return notOpen(what);
    const std::lock_guard lock(hamlibMutex());
    agc = AgcState::NotOffered;
    if (!rig_has_set_level(m_rig.get(), RIG_LEVEL_AGC))
        return {};
    value_t v{};
    v.i = RIG_AGC_OFF;
    if (const int e = rig_set_level(m_rig.get(), RIG_VFO_CURR, RIG_LEVEL_AGC, v); e != RIG_OK)
        return failure(RigError::Agc, what, e);
    agc = AgcState::Unknown;
    if (!rig_has_get_level(m_rig.get(), RIG_LEVEL_AGC))
        return {};
    v.i = -1;
    if (const int e = rig_get_level(m_rig.get(), RIG_VFO_CURR, RIG_LEVEL_AGC, &v); e != RIG_OK)
        return failure(RigError::ReadBack, "reading back the AGC", e);
    if (v.i != RIG_AGC_OFF)
        return rigFailure(*this, RigError::Agc, what,
                          std::string("the receiver reports AGC ") +
                              rig_stragclevel(static_cast<agc_level_e>(v.i)));
    agc = AgcState::Off;
    return {};
}

std::string hamlibVersionText()
{
    return hamlib_version;
}

} // namespace quillon
