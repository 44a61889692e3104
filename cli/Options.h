#pragma once

#include <cstdint>
#include <string>

// What the commands' options share. Only the files that register options
// include CLI11 itself: it is the costliest header of the build.
namespace CLI {
class App;
class Option;
class Validator;
}  // namespace CLI

// The --interface option of a command that searches: out of that network
// interface only, and only the answers that come in on it.
CLI::Option* AddInterfaceOption(CLI::App& command, std::string* name);

// The readers of Values.h as CLI11 validators, so that an option is read
// exactly as a plan's cell is, with the same message: "--port: '0' is not a
// port number (1 to 65535)". They add nothing to the option's type text, so
// give each option a placeholder (type_name) that says what it takes.
CLI::Validator MacCheck();
CLI::Validator AddressCheck();
CLI::Validator PortCheck();
CLI::Validator IdCheck();
CLI::Validator BaudRateCheck();
CLI::Validator NumberCheck(uint32_t lowest, uint32_t highest);
