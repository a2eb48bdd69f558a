#pragma once

// What every program of the package answers before it looks at its own
// arguments: --help (-h) prints its usage on standard output, --version
// prints "NAME VERSION", both ending it with status 0; any other argument
// that starts with "-" and is not one of its own options is refused with
// status 2, before anything is made or written. After "--" nothing is an
// option; the "--" itself is taken out of the arguments.

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string_view>

#ifndef QUILVANE_VERSION
#error "QUILVANE_VERSION comes from the build"
#endif

namespace qv::tools {

// The exit status to end with now, or nothing to go on. `own` lists the
// program's options; one ending in "=" also takes a value joined to it
// (-j4 for "-j=").
inline std::optional<int> standard_options(int& argc, char** argv, char const* name, char const* usage,
    std::initializer_list<std::string_view> own = {})
{
    for (int i = 1; i < argc; ++i) {
        std::string_view const argument = argv[i];
        if (argument == "--") {
            for (int j = i; j + 1 <= argc; ++j)
                argv[j] = argv[j + 1]; // argv[argc] is the null that ends them
            --argc;
            break;
        }
        if (argument == "--help" || argument == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("%s %s\n", name, QUILVANE_VERSION);
            return 0;
        }
        if (argument.size() < 2 || argument[0] != '-')
            continue;
        bool known = false;
        for (std::string_view option : own) {
            bool const joined = option.ends_with('=');
            if (joined)
                option.remove_suffix(1);
            known = known || argument == option || (joined && argument.starts_with(option));
        }
        if (!known) {
            std::fprintf(stderr, "%s: unknown option %s\n%s", name, argv[i], usage);
            return 2;
        }
    }
    return std::nullopt;
}

}
