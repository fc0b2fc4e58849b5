// std::wstring's members, compiled once here as std::string's are (see
// string_instances.cpp); a file of their own, so that a program of narrow
// strings links none of them.
#include <string>

namespace std {

template class allocator<wchar_t>;
template class __cxx11::basic_string<wchar_t>;

}  // namespace std
