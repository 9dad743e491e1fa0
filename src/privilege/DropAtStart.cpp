// Linked into vardel and vardel-cli: a privilege the program was started
// with (set-id, file capabilities) is given up before any library's
// initialisers run, Qt's included, and so before any variable, file or plugin
// is read. Entries of .preinit_array run before every shared library's
// initialisers (and after the sanitizers' own, which come first in the link).
#include "privilege/Privilege.h"

#include <unistd.h>

namespace {

void dropAtStart(int, char**, char**)
{
    if (vardel::dropInheritedPrivilege(vardel::systemPrivilegeOps()))
        return;
    static const char text[] = "Nie można odrzucić uprawnień, z którymi program został uruchomiony; "
                               "program kończy pracę.\n";
    if (::write(STDERR_FILENO, text, sizeof text - 1) < 0) {
        // Nothing more to say it with.
    }
    ::_exit(3);
}

[[gnu::used, gnu::section(".preinit_array")]] void (*const g_dropAtStart)(int, char**, char**) = dropAtStart;

} // namespace
