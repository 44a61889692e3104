// velquint doctor: what on this machine stands between a search and the
// devices, one finding a line with what to do about it. Sends nothing unless
// --probe asks for one search request.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <ostream>

#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/Signals.h"
#include "cli/doctor/Finding.h"
#include "cli/doctor/LocalNetwork.h"
#include "cli/doctor/PortCheck.h"
#include "cli/doctor/SystemChecks.h"
#include "discovery/DiscoverDevices.h"
#include "platform/Routes.h"

namespace {

class DoctorReport : public Shown {
public:
    explicit DoctorReport(Findings findings) : findings_(std::move(findings)) {}

    void Table(std::ostream& out) const override {
        std::vector<std::vector<std::string>> rows;
        for (const Finding& finding : findings_) {
            rows.push_back(
                {SeverityWord(finding.severity), finding.check,
                 finding.fix.empty() ? finding.text : finding.text + "; to fix: " + finding.fix});
        }
        PrintTable(out, {"STATUS", "CHECK", "FINDING"}, rows);
    }

    nlohmann::ordered_json Json() const override {
        const auto textOrNull = [](const std::string& text) {
            return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
        };
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        bool clear = true;
        for (const Finding& finding : findings_) {
            clear = clear && finding.severity != Severity::Problem;
            list.push_back({{"check", finding.check},
                            {"finding", finding.token},
                            {"severity", SeverityWord(finding.severity)},
                            {"interface", textOrNull(finding.interfaceName)},
                            {"text", finding.text},
                            {"fix", textOrNull(finding.fix)}});
        }
        return {{"clear", clear}, {"findings", list}};
    }

private:
    Findings findings_;
};

// One request, as the window sends it (or out of --interface), and on which
// interfaces any device answered it.
Findings ProbeFindings(const CommandContext& context, SegmentPort& port, unsigned interfaceIndex,
                       const std::string& interfaceName,
                       const std::vector<LocalInterface>& interfaces, const Findings& before) {
    RepeatedSearchOptions options;
    options.passes = 1;
    options.interfaceIndex = interfaceIndex;
    options.timeLimitMs = kSearchTimeLimitMs;
    options.stop = context.stop.Check();
    DeviceSightings sightings;
    if (const std::optional<Failure> failure =
            Search(port, options, interfaceName, context.reporter, &sightings)) {
        return {
            {"probe", "probe-not-sent", Severity::Problem, failure->message, "", interfaceName}};
    }
    Findings findings;
    for (const LocalInterface& interface : interfaces) {
        if (!SearchesFrom(interface)) {
            continue;
        }
        size_t answered = 0;
        for (const DeviceSighting& sighting : sightings.All()) {
            for (const unsigned index : sighting.interfaces) {
                answered += index == interface.index ? 1 : 0;
            }
        }
        if (answered > 0) {
            findings.push_back({"probe", "probe-answered", Severity::Ok,
                                interface.name + ": " + std::to_string(answered) +
                                    (answered == 1 ? " device answered" : " devices answered") +
                                    " one search request",
                                "", interface.name});
            continue;
        }
        bool blocked = false;
        for (const Finding& finding : before) {
            blocked = blocked || (finding.severity != Severity::Ok && finding.check == "firewall" &&
                                  finding.interfaceName == interface.name);
        }
        findings.push_back({"probe", "probe-silent", Severity::Warning,
                            interface.name + ": no device answered one search request",
                            blocked
                                ? "see the firewall's finding for " + interface.name
                                : "check that the devices are powered and cabled to this segment; "
                                  "velquint search asks " +
                                      std::to_string(kDefaultSearchPasses) + " times",
                            interface.name});
    }
    return findings;
}

// What the findings end the command with.
CommandResult Verdict(const CommandContext& context, Findings findings, bool probed,
                      size_t answered) {
    size_t problems = 0;
    for (const Finding& finding : findings) {
        problems += finding.severity == Severity::Problem ? 1 : 0;
    }
    CommandResult result;
    result.shown = std::make_shared<DoctorReport>(std::move(findings));
    result.closingIsWarning = true;
    if (problems > 0) {
        result.status = kExitLocal;
        result.closing = std::to_string(problems) +
                         (problems == 1 ? " finding stands" : " findings stand") +
                         " in the way of a search";
    } else if (context.stop.Asked()) {
        result.status = context.stop.Status();
        result.closing = "the probe was stopped";
    } else if (probed && answered == 0) {
        result.status = kExitNotFound;
        result.closing = "nothing on this machine stands in the way, but no device answered";
    } else {
        result.closing = "nothing on this machine stands in the way of a search";
        result.closingIsWarning = false;
    }
    return result;
}

struct DoctorCommand {
    bool probe = false;
    std::string interfaceName;

    CommandResult Run(const CommandContext& context) const {
        unsigned interfaceIndex = 0;
        FailOn(FindInterface(interfaceName, &interfaceIndex));

        Findings findings;
        auto port = std::make_unique<SegmentPort>();
        findings.push_back(PortFinding(*port));
        const bool portFree = findings.back().severity == Severity::Ok;
        if (!probe) {
            // Held no longer than the check needs: a search may want it.
            port.reset();
        }
        const std::vector<LocalInterface> interfaces = Interfaces();
        const auto add = [&findings](const Findings& more) {
            findings.insert(findings.end(), more.begin(), more.end());
        };
        add(InterfaceFindings(interfaces, interfaceName));
        add(RouteFindings(ListDefaultRoutes(), BroadcastInterface(), interfaces, interfaceName));
        add(FirewallFindings(interfaces));
        size_t answered = 0;
        if (probe && portFree) {
            const Findings probed =
                ProbeFindings(context, *port, interfaceIndex, interfaceName, interfaces, findings);
            for (const Finding& finding : probed) {
                answered += finding.token == "probe-answered" ? 1 : 0;
            }
            add(probed);
        }
        return Verdict(context, std::move(findings), probe, answered);
    }

    // This machine's interfaces, or the one --interface names.
    std::vector<LocalInterface> Interfaces() const {
        std::vector<LocalInterface> interfaces = LocalInterfaces();
        if (!interfaceName.empty()) {
            interfaces.erase(std::remove_if(interfaces.begin(), interfaces.end(),
                                            [this](const LocalInterface& interface) {
                                                return interface.name != interfaceName;
                                            }),
                             interfaces.end());
        }
        return interfaces;
    }
};

}  // namespace

std::string DoctorFooter() {
    return Wrapped(SystemChecksHelp() +
                   "\n\n"
                   "--probe sends one search request, as the window does, and says on which "
                   "interfaces devices answered.\n\n" +
                   FirewallFixHelp() +
                   "\n\n"
                   "Exit status 0 when nothing stands in the way of a search; 4 when something "
                   "does; 3 when --probe found nothing else wrong but no device answered.");
}

CommandRun AddDoctorCommand(CLI::App& doctor) {
    auto command = std::make_shared<DoctorCommand>();
    doctor.add_flag("-p,--probe", command->probe,
                    "Also send one search request and say on which interfaces devices answered");
    doctor
        .add_option("-i,--interface", command->interfaceName,
                    "Check only this network interface (and probe out of it only)")
        ->type_name("NAME");
    return {[command](const CommandContext& context) { return command->Run(context); }};
}
