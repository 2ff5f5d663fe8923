#include "main/displays.h"

#include <cstdlib>
#include <cstring>

#include "display/automation/automation_server.h"
#include "display/terminal/terminal.h"

namespace compat {
namespace displays {

namespace {

struct DisplayKind {
    const char *name;
    bool (*open)(const std::string &options, std::string *error);
    void (*close)();
};

// "fd=N": the descriptor of the channel, inherited from the driver.
bool open_automation(const std::string &options, std::string *error) {
    if (options.compare(0, 3, "fd=") != 0 || options.size() == 3) {
        *error = "QV_DISPLAY=automation needs the channel as fd=N, e.g. automation:fd=3";
        return false;
    }
    char *end = nullptr;
    long fd = strtol(options.c_str() + 3, &end, 10);
    if (*end != '\0' || fd < 0 || fd > 65535) {
        *error = "QV_DISPLAY=automation: \"" + options + "\" names no descriptor";
        return false;
    }
    std::string why;
    if (!automation::start_server(static_cast<int>(fd), &why)) {
        *error = "QV_DISPLAY=automation: " + why;
        return false;
    }
    return true;
}

bool open_terminal(const std::string &, std::string *error) {
    return terminal::start_terminal(error);
}

const DisplayKind kDisplays[] = {
    {"automation", open_automation, automation::stop_server},
    {"terminal", open_terminal, terminal::stop_terminal},
};
const DisplayKind &kDefault = kDisplays[1];

const DisplayKind *opened = nullptr;

}  // namespace

bool open_display(const char *setting, std::string *error) {
    const std::string text = setting ? setting : "";
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string options = colon == std::string::npos ? "" : text.substr(colon + 1);
    const DisplayKind *kind = &kDefault;
    for (const DisplayKind &k : kDisplays)
        if (name == k.name) kind = &k;
    if (!kind->open(kind == &kDefault && name != kDefault.name ? "" : options, error))
        return false;
    opened = kind;
    return true;
}

void close_display() {
    if (opened && opened->close) opened->close();
    opened = nullptr;
}

}  // namespace displays
}  // namespace compat
