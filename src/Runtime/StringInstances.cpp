// The shipped installer's own instantiations of std::string and std::wstring.
// In C++17 the standard headers declare both as instantiated in the C++
// runtime, so every out-of-line member the program calls would come from the
// runtime's archive, which links each class's every member (about 46 KB).
// Instantiated here instead, the optimised link keeps the members the program
// calls. Linked into Release builds of the installer only, with link-time
// optimisation: an ordinary link would keep every member.
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;
