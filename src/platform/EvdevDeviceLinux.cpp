#include "platform/EvdevDevice.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

namespace qv::platform {

namespace {

bool test_bit(std::vector<unsigned long> const& bits, unsigned bit)
{
    constexpr unsigned per = sizeof(unsigned long) * 8;
    return bit / per < bits.size() && (bits[bit / per] >> (bit % per)) & 1UL;
}

// The calibration udev gave the device, from its database entry.
std::optional<Calibration> udev_calibration(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    std::ifstream data("/run/udev/data/c" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    std::string line;
    std::string const key = "E:LIBINPUT_CALIBRATION_MATRIX=";
    while (std::getline(data, line))
        if (line.starts_with(key))
            return parse_calibration(std::string_view(line).substr(key.size()));
    return std::nullopt;
}

std::vector<std::string> split(std::string const& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t const end = std::min(text.find(separator, start), text.size());
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}

std::unique_ptr<EvdevDevice> EvdevDevice::open(std::string const& path, bool required)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return nullptr;
    bool const fifo = S_ISFIFO(st.st_mode);
    // A FIFO opened for reading alone reads end-of-file whenever no
    // writer holds it; holding its write end too keeps it waiting.
    int const fd = ::open(path.c_str(), (fifo ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto device = std::unique_ptr<EvdevDevice>(new EvdevDevice());
    device->m_fd = fd;
    std::vector<unsigned long> types(1), keys(KEY_CNT / (sizeof(unsigned long) * 8) + 1), abs(2);
    device->m_can_query = ioctl(fd, EVIOCGBIT(0, sizeof(unsigned long)), types.data()) >= 0;
    if (device->m_can_query) {
        ioctl(fd, EVIOCGBIT(EV_KEY, keys.size() * sizeof(unsigned long)), keys.data());
        ioctl(fd, EVIOCGBIT(EV_ABS, abs.size() * sizeof(unsigned long)), abs.data());
        bool const touch = test_bit(abs, ABS_MT_POSITION_X) || test_bit(abs, ABS_X);
        bool const has_keys = test_bit(keys, KEY_ENTER) || test_bit(keys, KEY_UP) || test_bit(keys, KEY_VOLUMEUP)
            || test_bit(keys, KEY_BACK);
        // Mice and the like are left alone unless asked for by name.
        if (!required && !touch && !has_keys)
            return nullptr;
        device->m_multitouch = test_bit(abs, ABS_MT_POSITION_X);
    }
    return device;
}

EvdevDevice::~EvdevDevice()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void EvdevDevice::set_panel(std::int32_t width, std::int32_t height, std::int32_t turn)
{
    TouchMapping mapping;
    mapping.panel_width = width;
    mapping.panel_height = height;
    mapping.turn = turn;
    if (m_can_query) {
        input_absinfo info {};
        if (ioctl(m_fd, EVIOCGABS(m_multitouch ? ABS_MT_POSITION_X : ABS_X), &info) == 0)
            mapping.x = { info.minimum, info.maximum };
        if (ioctl(m_fd, EVIOCGABS(m_multitouch ? ABS_MT_POSITION_Y : ABS_Y), &info) == 0)
            mapping.y = { info.minimum, info.maximum };
        if (auto calibration = udev_calibration(m_fd))
            mapping.calibration = *calibration;
    }
    m_decoder.set_mapping(mapping);
}

std::size_t EvdevDevice::read_into(std::vector<InputAction>& out)
{
    std::size_t constexpr record = sizeof(input_event);
    // One read up to a whole batch of records, counting the part of a record
    // the last read left.
    std::uint8_t chunk[kRecordsPerRead * record];
    ssize_t const got = ::read(m_fd, chunk, sizeof chunk - m_partial.size());
    if (got <= 0)
        return 0;
    m_partial.insert(m_partial.end(), chunk, chunk + got);
    std::size_t used = 0;
    for (; used + record <= m_partial.size(); used += record) {
        input_event event;
        std::memcpy(&event, m_partial.data() + used, record);
        if (m_decoder.feed({ event.type, event.code, event.value }, out) == EvdevDecoder::Fed::DropEnded)
            resync(out);
    }
    m_partial.erase(m_partial.begin(), m_partial.begin() + static_cast<std::ptrdiff_t>(used));
    return used / record;
}

// After a drop the kernel's own view of the device is the truth; a FIFO has
// none, and its stream simply goes on.
void EvdevDevice::resync(std::vector<InputAction>& out)
{
    if (!m_can_query)
        return;
    EvdevSnapshot snapshot;
    std::vector<unsigned long> keys(KEY_CNT / (sizeof(unsigned long) * 8) + 1);
    if (ioctl(m_fd, EVIOCGKEY(keys.size() * sizeof(unsigned long)), keys.data()) >= 0) {
        for (unsigned code = 0; code < KEY_CNT; ++code)
            if (test_bit(keys, code))
                snapshot.keys_down.push_back(static_cast<std::uint16_t>(code));
        snapshot.touching = test_bit(keys, BTN_TOUCH);
    }
    input_absinfo info {};
    if (ioctl(m_fd, EVIOCGABS(ABS_X), &info) == 0)
        snapshot.x = info.value;
    if (ioctl(m_fd, EVIOCGABS(ABS_Y), &info) == 0)
        snapshot.y = info.value;
    if (m_multitouch) {
        constexpr std::size_t n = EvdevDecoder::kSlots;
        std::int32_t ids[n + 1] {}, xs[n + 1] {}, ys[n + 1] {};
        ids[0] = ABS_MT_TRACKING_ID;
        xs[0] = ABS_MT_POSITION_X;
        ys[0] = ABS_MT_POSITION_Y;
        bool const ok = ioctl(m_fd, EVIOCGMTSLOTS(sizeof ids), ids) >= 0 && ioctl(m_fd, EVIOCGMTSLOTS(sizeof xs), xs) >= 0
            && ioctl(m_fd, EVIOCGMTSLOTS(sizeof ys), ys) >= 0;
        if (ok) {
            for (std::size_t i = 0; i < n; ++i)
                snapshot.slots.push_back({ ids[i + 1], xs[i + 1], ys[i + 1] });
            if (ioctl(m_fd, EVIOCGABS(ABS_MT_SLOT), &info) == 0)
                snapshot.current_slot = info.value;
        }
    }
    m_decoder.resync(snapshot, out);
}

std::vector<std::unique_ptr<EvdevDevice>> open_evdev_devices()
{
    std::vector<std::unique_ptr<EvdevDevice>> devices;
    char const* chosen = std::getenv("QUILVANE_INPUT");
    if (chosen && *chosen) {
        for (std::string const& path : split(chosen, ':'))
            if (auto device = EvdevDevice::open(path, true))
                devices.push_back(std::move(device));
        return devices;
    }
    if (DIR* dir = opendir("/dev/input")) {
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir))
            if (std::string_view(entry->d_name).starts_with("event"))
                names.push_back(std::string("/dev/input/") + entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (std::string const& path : names)
            if (auto device = EvdevDevice::open(path, false))
                devices.push_back(std::move(device));
    }
    return devices;
}

}
