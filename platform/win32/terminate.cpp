// How the program ends when something is thrown that nothing catches. The
// program catches nothing: the only throws are the standard library's (for
// want of memory, a text or list beyond its largest size, a position
// outside a text), and each ends the process. The library's own handler
// would first write the thrown type's name to the standard error stream,
// which a window program does not have, and it brings a decoder of type
// names of about 50 KB into the program; this one ends the process the
// same way without writing.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() { abort(); }

}  // namespace __gnu_cxx
