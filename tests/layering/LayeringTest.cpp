// The library graph, checked on the source tree: every `#include "folder/…"` under src/
// must name a folder at or below the including folder, and no library below the widget
// library may include a QtWidgets header.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Each folder of src/ and the folders it may include from (besides itself). The picture:
// core at the ground; capture, nf, switch and bench above it; rig and spectrum above those
// (rig tunes the bench); measure above them all (its sweep tunes the receiver); ui; the two
// executables on top.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"core", {}},
    {"capture", {"core"}},
    {"nf", {"core"}},
    {"switch", {"core"}},
    {"bench", {"core", "capture"}},
    {"measure", {"core", "capture", "nf", "switch", "bench", "spectrum", "rig"}},
    {"spectrum", {"core", "capture"}},
    {"rig", {"core", "capture", "bench"}},
    {"ui", {"core", "capture", "nf", "switch", "bench", "measure", "spectrum", "rig"}},
    {"app", {"core", "capture", "nf", "switch", "bench", "measure", "spectrum", "rig", "ui"}},
    {"cli", {"core", "capture", "nf", "switch", "bench", "measure", "spectrum", "rig"}},
};
// Folders whose code may use widgets.
const std::set<std::string> kWidgetFolders = {"ui", "app"};

// The header names of QtWidgets (QWidget, qwidget.h, …), read from its include folders.
std::set<std::string> widgetHeaders()
{
    std::set<std::string> names;
    std::istringstream dirs(QUILLON_QT_INCLUDE_DIRS);
    std::string dir;
    while (std::getline(dirs, dir, ';')) {
        if (fs::path(dir).filename() != "QtWidgets" || !fs::is_directory(dir))
            continue;
        for (const auto &entry : fs::directory_iterator(dir))
            names.insert(entry.path().filename().string());
    }
    return names;
}

// One line per broken rule: "src/<folder>/<file>:<line>: …".
std::vector<std::string> layeringViolations(const fs::path &root,
                                            const std::set<std::string> &widgets)
{
    static const std::regex quoted(R"(^\s*#\s*include\s*"([^"/]+)/[^"]*")");
    static const std::regex angled(R"(^\s*#\s*include\s*<([^>]+)>)");
    std::vector<std::string> problems;
    const fs::path src = root / "src";
    for (const auto &entry : fs::recursive_directory_iterator(src)) {
        const fs::path &path = entry.path();
        if (!entry.is_regular_file() ||
            (path.extension() != ".h" && path.extension() != ".cpp"))
            continue;
        const fs::path relative = fs::relative(path, root);
        const std::string folder = fs::relative(path, src).begin()->string();
        const auto allowed = kAllowed.find(folder);
        if (allowed == kAllowed.end()) {
            problems.push_back(relative.string() + ": folder \"" + folder +
                               "\" has no place in the library graph");
            continue;
        }
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            const std::string where = relative.string() + ":" + std::to_string(number) + ": ";
            std::smatch m;
            if (std::regex_search(line, m, quoted)) {
                const std::string target = m[1];
                if (target != folder && allowed->second.count(target) == 0)
                    problems.push_back(where + folder + " includes a header of " + target +
                                       ", which is not below it");
            } else if (std::regex_search(line, m, angled) && !kWidgetFolders.count(folder)) {
                const std::string header = m[1];
                const std::string name = fs::path(header).filename().string();
                if (header.rfind("QtWidgets", 0) == 0 || widgets.count(name))
                    problems.push_back(where + folder + " includes the QtWidgets header <" +
                                       header + ">");
            }
        }
    }
    std::sort(problems.begin(), problems.end());
    return problems;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &l : lines)
        text += l + "\n";
    return text;
}

TEST(Layering, SourceTreeIncludesOnlyDownward)
{
    const auto widgets = widgetHeaders();
    ASSERT_TRUE(widgets.count("QWidget")) << "QtWidgets include folder not found";
    const auto problems = layeringViolations(QUILLON_SOURCE_DIR, widgets);
    EXPECT_TRUE(problems.empty()) << joined(problems);
}

// A copy of the rules' breaking cases, planted in a scratch tree: each must be named with
// its file and line, and the allowed includes around them must not be.
TEST(Layering, PlantedUpwardIncludesAreNamedWithFileAndLine)
{
    const fs::path root = fs::temp_directory_path() / ("quillon-layering-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const auto plant = [&root](const std::string &file, const std::string &text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text;
    };
    plant("src/core/Number.h", "#pragma once\n#include <string>\n#include \"ui/MainWindow.h\"\n");
    plant("src/capture/Meter.cpp", "#include \"core/Messages.h\"\n#include <QLabel>\n");
    plant("src/measure/Engine.cpp", "#include \"nf/EnrTable.h\"\n#include <QtWidgets/QDialog>\n"
                                     "#include \"cli/Json.h\"\n");
    plant("src/ui/pages/Page.cpp", "#include <QLabel>\n#include \"measure/Engine.h\"\n"
                                    "#include \"app/Main.h\"\n");
    plant("src/app/main.cpp", "#include \"ui/QuillonApp.h\"\n#include <QApplication>\n");
    plant("src/extra/Thing.h", "#pragma once\n");

    const auto problems = layeringViolations(root, {"QLabel", "QDialog", "QApplication"});
    fs::remove_all(root);
    const std::vector<std::string> expected = {
        "src/capture/Meter.cpp:2: capture includes the QtWidgets header <QLabel>",
        "src/core/Number.h:3: core includes a header of ui, which is not below it",
        "src/extra/Thing.h: folder \"extra\" has no place in the library graph",
        "src/measure/Engine.cpp:2: measure includes the QtWidgets header <QtWidgets/QDialog>",
        "src/measure/Engine.cpp:3: measure includes a header of cli, which is not below it",
        "src/ui/pages/Page.cpp:3: ui includes a header of app, which is not below it",
    };
    EXPECT_EQ(joined(problems), joined(expected));
}

} // namespace
