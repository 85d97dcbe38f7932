// The texts of `ttyprog --help` and `ttyprog --version`.
#pragma once

namespace ttyprog {

// The synopsis, every command with its parameter, the environment, the exit codes.
void print_help();

// "ttyprog VERSION".
void print_version();

}  // namespace ttyprog
