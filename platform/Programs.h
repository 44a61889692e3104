#pragma once

#include <string>
#include <vector>

// Linux only (ProgramsLinux.cpp): the firewall's own tools and ss know what
// the kernel holds better than any reading of our own, and the doctor asks
// them, as a person would. Windows' doctor reads its firewall through COM
// instead (DefenderFirewall.h) and runs no programs.

struct ProgramRun {
    bool started = false;  // false: not installed, or it could not be started
    int status = -1;       // its exit status; -1 when it was killed or took too long
    std::string out;
    std::string err;
};

// Where `name` is: in PATH, or in /usr/sbin and /sbin, which an ordinary
// user's PATH often lacks though the tools there answer questions for anyone.
// Empty when it is not installed.
std::string FindProgram(const std::string& name);

// Runs `arguments` (the program first, found with FindProgram) with no input,
// in the C locale so that its words are the ones read here, and takes what it
// writes. A program that has not ended after `timeLimitMs` is killed.
ProgramRun RunProgram(const std::vector<std::string>& arguments, int timeLimitMs = 10000);

// Whether this program runs as root: only root may read the firewalls'
// rules.
bool RunsAsRoot();
