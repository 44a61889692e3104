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

// At 5 % of datagrams lost each way, a present device goes unheard by the
// requests of 5 s (three, then one every 0.5 s) with a chance below one in a
// billion, and a mistyped MAC is refused without a long wait: setup's and
// apply's --find-timeout. Their time-outs take no more than 10 minutes.
constexpr int kDefaultFindTimeoutSeconds = 5;
constexpr int kLongestTimeoutSeconds = 600;
// A watch, or a station, may run a whole week of shifts.
constexpr uint32_t kLongestWatchSeconds = 7 * 24 * 3600;

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
