#include "errno.h"

#include "string.h"

extern "C" {
int errno = 0;
}

namespace kiv::error_text {
namespace {

struct ErrorText {
    int code;
    const char *text;
};

// Every code outside this table shares one text.
constexpr char kOtherText[] = "error";

constexpr ErrorText kErrorTexts[] = {
    {0, "ok"},
    {ENOENT, "no such file"},
    {EINVAL, "invalid argument"},
    {ENOSYS, "not implemented"},
};

}  // namespace
}  // namespace kiv::error_text

extern "C" const char *strerror(int code) {
    using namespace kiv::error_text;
    for (const ErrorText &entry : kErrorTexts)
        if (entry.code == code) return entry.text;
    return kOtherText;
}
