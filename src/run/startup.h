// The program's start: banner, help, ASPI probe, options, discovery, run.
#pragma once

constexpr const char* PROGRAM_VERSION = "1.07";
constexpr int EXIT_NO_ASPI = 100;
constexpr int EXIT_NO_DRIVE = 300;

// The whole program; returns the process exit code.
int tessaly_main(int argc, const char* const* argv);
