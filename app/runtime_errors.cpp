// The C++ runtime's error paths, for the installer executable only (tests keep the
// library's own). libstdc++'s versions pull in its demangler (for the message of an
// uncaught exception, which a window program has nowhere to print), a second, reference-
// counted std::string and std::system_error's machinery: about 90 KB of a download
// that should stay small. Nothing here catches the standard types by name; an
// uncaught error still ends the process through std::terminate, and the one
// catch (...) (around unpacking) still sees an exception.
#include <cstdlib>
#include <exception>
#include <new>

namespace {
class RuntimeError : public std::exception {
 public:
  explicit RuntimeError(const char* text) : text_(text) {}
  const char* what() const noexcept override { return text_; }

 private:
  const char* text_;
};
}  // namespace

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_length_error(const char* text) { throw RuntimeError(text); }
void __throw_logic_error(const char* text) { throw RuntimeError(text); }
void __throw_invalid_argument(const char* text) { throw RuntimeError(text); }
void __throw_out_of_range(const char* text) { throw RuntimeError(text); }
void __throw_out_of_range_fmt(const char* format, ...) { throw RuntimeError(format); }
void __throw_system_error(int) { throw RuntimeError("system error"); }
}  // namespace std
