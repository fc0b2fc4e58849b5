// Bad guest pointers: every call whose buffer is unmapped, wrongly
// protected or wraps past 4 GiB answers -1 as a whole and changes nothing.
#include "check.h"
#include "fcntl.h"

namespace {

constexpr uint32_t kKernelSpace = 0xc0000000u;
const char kReadOnly[16] = "read-only";
char g_writable[16];

struct NicRecord {
    unsigned char bytes[28];
};

int nic_query(uint32_t record) {
    int32_t result;
    asm volatile("int $0x80" : "=a"(result) : "a"(71), "b"(0), "c"(0), "d"(record) : "memory");
    return result;
}

uint32_t address_of(const void *pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

void check_writes() {
    struct Case {
        uint32_t address;
        uint32_t count;
    };
    const Case cases[] = {
        {0x10, 4},                          // the never-mapped first page
        {kKernelSpace, 4},                  // the kernel's page
        {0xfffffff0u, 0x20},                // wraps past 4 GiB
        {address_of(kReadOnly), 0x100000},  // runs off the end of the mapping
    };
    for (const auto &c : cases) CHECK_EQ(write(1, reinterpret_cast<const void *>(c.address), c.count), -1);
}

void check_reads_need_writable_memory() {
    int fd = open("data.txt", O_WRONLY | O_CREAT | O_TRUNC);
    CHECK(fd >= 0);
    CHECK_EQ(write(fd, "abcdef", 6), 6);
    close(fd);
    fd = open("data.txt", O_RDONLY);
    CHECK(fd >= 0);
    CHECK_EQ(read(fd, const_cast<char *>(kReadOnly), 4), -1);  // read-only data
    CHECK_BYTES(kReadOnly, "read", 4);
    CHECK_EQ(read(fd, reinterpret_cast<void *>(&check_fail), 4), -1);  // code
    CHECK_EQ(read(fd, g_writable, 4), 4);                              // nothing was consumed by the refusals
    CHECK_BYTES(g_writable, "abcd", 4);
    close(fd);
}

void check_paths() {
    CHECK_EQ(open(reinterpret_cast<const char *>(0x20), O_RDONLY), -1);
    CHECK_EQ(mkdir(reinterpret_cast<const char *>(kKernelSpace)), -1);
    CHECK_EQ(writefile("out.txt", reinterpret_cast<const void *>(0x30), 4), -1);
    CHECK_EQ(access("out.txt", 0), -1);  // the refused writefile created nothing
}

void check_nic_record() {
    CHECK_EQ(nic_query(address_of(kReadOnly)), -1);
    CHECK_BYTES(kReadOnly, "read-only", 10);
    CHECK_EQ(nic_query(0), -1);
    CHECK_EQ(nic_query(0xffffffe8u), -1);  // 28 bytes would wrap
    NicRecord record;
    for (auto &byte : record.bytes) byte = 0xee;
    CHECK_EQ(nic_query(address_of(&record)), 0);
}

void check_pipe_and_getcwd() {
    CHECK_EQ(pipe(reinterpret_cast<int *>(const_cast<char *>(kReadOnly))), -1);
    CHECK_EQ(getcwd(const_cast<char *>(kReadOnly), 8), -1);
    CHECK_EQ(getcwd(g_writable, 1), -1);  // "/" and its NUL need two bytes
    CHECK_EQ(getcwd(g_writable, 2), 2);
    CHECK_BYTES(g_writable, "/", 2);
}

}  // namespace

extern "C" int main() {
    check_writes();
    check_reads_need_writable_memory();
    check_paths();
    check_nic_record();
    check_pipe_and_getcwd();
    return check_done();
}
