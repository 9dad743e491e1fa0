// vardel-ports: grants the card's ports, drops every privilege and starts
// vardel or vardel-cli (see PortHelper.h).
#include "privilege/PortHelper.h"

#include <climits>
#include <cstdio>

#include <unistd.h>

int main(int argc, char** argv)
{
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string_view selfPath(self, length > 0 ? static_cast<std::size_t>(length) : 0);
    const vardel::HelperFailure failure =
        vardel::runPortHelper(vardel::systemPrivilegeOps(), argc, argv, environ, selfPath, ::getpid());
    std::fprintf(stderr, "%s\n", failure.message.c_str());
    return failure.exitCode;
}
