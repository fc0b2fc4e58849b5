// std::string's members, compiled once here: up to C++17 libstdc++'s
// headers declare basic_string<char> (and allocator<char>) an explicit
// instantiation made in the library, and call its members out of line.
#include <string>

namespace std {

template class allocator<char>;
template class __cxx11::basic_string<char>;

}  // namespace std
