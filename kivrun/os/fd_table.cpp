#include "os/fd_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <utility>

namespace kiv {

namespace {

// The entry of a descriptor its caller has found not negative.
size_t slot(int32_t guest_fd) { return static_cast<size_t>(guest_fd); }

}  // namespace

FdTable::FdTable(int console_in, int console_out, int console_err) {
    for (int host_fd : {console_in, console_out, console_err}) {
        entries_.push_back(std::nullopt);
        if (host_fd >= 0) install(static_cast<int32_t>(entries_.size() - 1), host_fd, true);
    }
}

namespace {

// /dev/null, /dev/zero and /dev/full answer at once: waiting for them
// first would only cost a call.
bool never_waits(const struct stat &info) {
    constexpr unsigned kMemoryDevices = 1, kNull = 3, kZero = 5, kFull = 7;
    unsigned minor_number = minor(info.st_rdev);
    return major(info.st_rdev) == kMemoryDevices &&
           (minor_number == kNull || minor_number == kZero || minor_number == kFull);
}

}  // namespace

FdTable::Descriptor FdTable::describe(int host_fd, bool owned) {
    struct stat info;
    bool may_wait = fstat(host_fd, &info) == 0 &&
                    (S_ISFIFO(info.st_mode) || (S_ISCHR(info.st_mode) && !never_waits(info)) || S_ISSOCK(info.st_mode));
    int access = fcntl(host_fd, F_GETFL) & O_ACCMODE;
    return {host_fd, owned, may_wait, access != O_WRONLY, access != O_RDONLY};
}

FdTable::~FdTable() {
    for (auto &entry : entries_)
        if (entry) release(*entry);
}

void FdTable::release(Descriptor &entry) {
    if (entry.owned) ::close(entry.host_fd);
}

const FdTable::Descriptor *FdTable::find(int32_t guest_fd) const {
    if (guest_fd < 0 || slot(guest_fd) >= entries_.size() || !entries_[slot(guest_fd)]) return nullptr;
    return &*entries_[slot(guest_fd)];
}

FdTable::Descriptor *FdTable::find(int32_t guest_fd) {
    return const_cast<Descriptor *>(std::as_const(*this).find(guest_fd));
}

int FdTable::host(int32_t guest_fd) const {
    const Descriptor *entry = find(guest_fd);
    return entry != nullptr ? entry->host_fd : -1;
}

int32_t FdTable::add(int host_fd) { return place(describe(host_fd, true)); }

int32_t FdTable::place(const Descriptor &entry) {
    for (size_t i = 0; i < entries_.size(); i++) {
        if (!entries_[i]) {
            entries_[i] = entry;
            return static_cast<int32_t>(i);
        }
    }
    if (entries_.size() >= kMaxDescriptors) {
        ::close(entry.host_fd);
        return -1;
    }
    entries_.push_back(entry);
    return static_cast<int32_t>(entries_.size() - 1);
}

std::optional<FdTable::Descriptor> FdTable::copy(int32_t guest_fd) const {
    const Descriptor *source = find(guest_fd);
    if (source == nullptr) return std::nullopt;
    int host_copy = fcntl(source->host_fd, F_DUPFD_CLOEXEC, 0);
    if (host_copy < 0) return std::nullopt;
    Descriptor copy = *source;
    copy.host_fd = host_copy;
    copy.owned = true;
    return copy;
}

bool FdTable::close(int32_t guest_fd) {
    if (host(guest_fd) < 0) return false;
    release(*entries_[slot(guest_fd)]);
    entries_[slot(guest_fd)].reset();
    return true;
}

int32_t FdTable::dup(int32_t guest_fd) {
    auto entry = copy(guest_fd);
    return entry ? place(*entry) : -1;
}

int32_t FdTable::dup2(int32_t old_fd, int32_t new_fd) {
    if (find(old_fd) == nullptr || new_fd < 0 || new_fd >= kMaxDescriptors) return -1;
    if (old_fd == new_fd) return new_fd;
    auto entry = copy(old_fd);
    if (!entry) return -1;
    put(new_fd, *entry);
    return new_fd;
}

void FdTable::install(int32_t guest_fd, int host_fd, bool console) {
    Descriptor entry = describe(host_fd, !console);
    entry.console = console;
    put(guest_fd, entry);
}

void FdTable::put(int32_t guest_fd, const Descriptor &entry) {
    if (slot(guest_fd) >= entries_.size()) entries_.resize(slot(guest_fd) + 1);
    if (entries_[slot(guest_fd)]) release(*entries_[slot(guest_fd)]);
    entries_[slot(guest_fd)] = entry;
}

}  // namespace kiv
