// Taking results out of the results window: Save to file through the Save
// As dialog, and Copy from the context menu.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.h"

namespace e2e {
namespace {

bool ReadWholeFile(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *bytes = s.str();
    return true;
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class Export : public Scenario {
protected:
    // A finished run with these addresses; returns its results window.
    ProgramDriver::Window FinishedRun(const std::string &typed, size_t lines) {
        ProgramDriver::Window results = StartRun(typed);
        EXPECT_TRUE(program.WaitForLineCount(ListOf(results), lines));
        EXPECT_TRUE(WaitForWorkerEnd());
        return results;
    }

    // Save to file: opens the Save As dialog and returns it.
    ProgramDriver::Window OpenSaveAs(const ProgramDriver::Window &results) {
        ProgramDriver::Window dialog;
        EXPECT_EQ(program.Click(program.ChildId(results.hwnd, kSave)), "ok");
        EXPECT_TRUE(program.WaitForWindow(kDialogClass, kSaveAsTitle, &dialog));
        return dialog;
    }

    // A message box owned by the Save As dialog (the overwrite question).
    bool WaitForQuestion(const ProgramDriver::Window &dialog, ProgramDriver::Window *out) {
        return program.WaitUntil([&] {
            for (const ProgramDriver::Window &w : program.Windows())
                if (w.owner == dialog.hwnd && program.MessageBoxStyle(w.hwnd) != ~0u) {
                    *out = w;
                    return true;
                }
            return false;
        });
    }
};

// Every row is one Save through the dialog, in this order, all from the
// same results window: the name typed, whether the overwrite question
// comes, the file that then holds the list, and the files that must still
// hold what they held before.
TEST_F(Export, SaveWritesTheListUnderTheChosenName) {
    program.service().Answer("1.2.3.10", FakeService::Listed(true));
    ProgramDriver::Window results = FinishedRun("1.2.3.2\r1.2.3.10\r198.51.100.7", 3);
    // The last line is as long as a result line gets.
    ASSERT_EQ(ResultLine("198.51.100.7", false).size(), 99u);
    const std::string list_bytes = WithCrLf({ResultLine("1.2.3.10", true),
                                             ResultLine("1.2.3.2", false),
                                             ResultLine("198.51.100.7", false)});
    const std::string d = program.dir() + "/";
    const std::string old_bytes = "what the file held before\r\n";

    struct Row {
        const char *name;
        std::string typed;
        bool question;        // the dialog asks before it takes the name
        std::string written;  // the file that then holds the list; "" none
        std::vector<std::string> untouched;
    } rows[] = {
        {"a name without .txt gets it", d + "results", false, d + "results.txt", {d + "results"}},
        {"an existing name is taken after the question", d + "results.txt", true,
         d + "results.txt", {}},
        {"the extension test is case-sensitive", d + "results.TXT", false, d + "results.TXT.txt",
         {d + "results.TXT"}},
        {"the .txt file of a name typed without it is replaced unasked", d + "results", false,
         d + "results.txt", {}},
        {"a relative path writes nothing", "relative", false, "", {d + "relative.txt"}},
        {"a path with two leading slashes writes nothing", "/" + d + "net", false, "",
         {d + "net.txt"}},
    };
    std::string last_chosen;
    for (Row &row : rows) {
        SCOPED_TRACE(row.name);
        // Files that exist before this Save hold the old bytes; the ones a
        // row must not touch exist only if they did already.
        if (!row.written.empty() && Exists(row.written)) WriteWholeFile(row.written, old_bytes);
        ProgramDriver::Window dialog = OpenSaveAs(results);
        EXPECT_EQ(dialog.owner, results.hwnd);
        const Hwnd name = program.ChildId(dialog.hwnd, kSaveAsFileName);
        ASSERT_NE(name, 0u);
        // The dialog offers the last chosen path, as chosen.
        EXPECT_EQ(program.Text(name), last_chosen);
        ASSERT_EQ(program.SetText(name, row.typed), "ok");
        ASSERT_EQ(program.Click(program.ChildId(dialog.hwnd, kIdOk)), "ok");
        if (row.question) {
            ProgramDriver::Window question;
            ASSERT_TRUE(WaitForQuestion(dialog, &question));
            EXPECT_EQ(program.MessageBoxStyle(question.hwnd) & kMbTypeMask, kMbYesNo);
            ASSERT_TRUE(program.PressMessageBoxButton(question.hwnd, kIdYes));
        }
        ASSERT_TRUE(program.WaitForGone(dialog.hwnd));
        ASSERT_TRUE(program.Idle(results.hwnd));
        last_chosen = row.typed;
        if (!row.written.empty()) {
            std::string bytes;
            ASSERT_TRUE(ReadWholeFile(row.written, &bytes)) << row.written;
            EXPECT_EQ(bytes, list_bytes) << row.written;
        }
        for (const std::string &path : row.untouched) EXPECT_FALSE(Exists(path)) << path;
    }

    // Cancel writes nothing, and the path chosen before stays on offer in
    // the next results window too.
    WriteWholeFile(d + "results.txt", old_bytes);
    ProgramDriver::Window dialog = OpenSaveAs(results);
    const Hwnd name = program.ChildId(dialog.hwnd, kSaveAsFileName);
    ASSERT_EQ(program.SetText(name, d + "results"), "ok");
    ASSERT_EQ(program.Click(program.ChildId(dialog.hwnd, kIdCancel)), "ok");
    ASSERT_TRUE(program.WaitForGone(dialog.hwnd));
    ASSERT_TRUE(program.Idle(results.hwnd));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(d + "results.txt", &bytes));
    EXPECT_EQ(bytes, old_bytes) << "cancelled";
    EXPECT_FALSE(Exists(d + ".txt"));
    CloseResults(results);

    ProgramDriver::Window next = FinishedRun("192.0.2.1", 1);
    dialog = OpenSaveAs(next);
    EXPECT_EQ(program.Text(program.ChildId(dialog.hwnd, kSaveAsFileName)), last_chosen);
    ASSERT_EQ(program.Click(program.ChildId(dialog.hwnd, kIdCancel)), "ok");
    ASSERT_TRUE(program.WaitForGone(dialog.hwnd));
    CloseResults(next);
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// The chosen path and ".txt" must fit the path buffer (1,000 bytes with its
// zero); a path that leaves no room for ".txt" is not cut short to make
// room, it is not written at all. The folders exist, so a shortened or
// overrun name would show up as a file in them.
TEST_F(Export, APathWithNoRoomForTxtIsNotWritten) {
    ProgramDriver::Window results = FinishedRun("1.2.3.2", 1);
    std::string folder = program.dir();
    while (folder.size() < 800) {
        folder += "/" + std::string(150, 'd');
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0) << folder;
    }
    folder += "/";
    struct Row {
        size_t length;  // of the typed path, which does not end in ".txt"
        bool written;   // as the typed path with ".txt" after it
    } rows[] = {{995, true}, {996, false}, {999, false}};
    for (const Row &row : rows) {
        SCOPED_TRACE("a path of " + std::to_string(row.length) + " bytes");
        const std::string typed = folder + std::string(row.length - folder.size(), 'n');
        ProgramDriver::Window dialog = OpenSaveAs(results);
        ASSERT_EQ(program.SetText(program.ChildId(dialog.hwnd, kSaveAsFileName), typed), "ok");
        ASSERT_EQ(program.Click(program.ChildId(dialog.hwnd, kIdOk)), "ok");
        ASSERT_TRUE(program.WaitForGone(dialog.hwnd));
        ASSERT_TRUE(program.Idle(results.hwnd));
        std::string bytes;
        EXPECT_EQ(ReadWholeFile(typed + ".txt", &bytes), row.written);
        if (row.written) {
            EXPECT_EQ(bytes, WithCrLf({ResultLine("1.2.3.2", false)}));
            ASSERT_EQ(unlink((typed + ".txt").c_str()), 0);
        }
        DIR *d = opendir(folder.c_str());
        ASSERT_NE(d, nullptr);
        std::vector<std::string> names;
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
        EXPECT_TRUE(names.empty()) << names.size() << " files, the first " << names[0];
    }
    CloseResults(results);
    ExpectNothingLeftOfRuns();
    EndProgram();
}

// An empty list saves as an empty file, emptying one that held text.
TEST_F(Export, AnEmptyListSavesZeroBytes) {
    ProgramDriver::Window results = StartRun("*.*.*.*");
    ProgramDriver::Window box;
    ASSERT_TRUE(program.WaitForMessageBox(kWarning, &box));
    ASSERT_TRUE(program.PressMessageBoxButton(box.hwnd, kIdOk));
    ASSERT_TRUE(WaitForWorkerEnd());
    const std::string path = program.dir() + "/empty.txt";
    WriteWholeFile(path, "old text\r\n");

    ProgramDriver::Window dialog = OpenSaveAs(results);
    ASSERT_EQ(program.SetText(program.ChildId(dialog.hwnd, kSaveAsFileName), path), "ok");
    ASSERT_EQ(program.Click(program.ChildId(dialog.hwnd, kIdOk)), "ok");
    ProgramDriver::Window question;
    ASSERT_TRUE(WaitForQuestion(dialog, &question));
    ASSERT_TRUE(program.PressMessageBoxButton(question.hwnd, kIdYes));
    ASSERT_TRUE(program.WaitForGone(dialog.hwnd));
    ASSERT_TRUE(program.Idle(results.hwnd));
    std::string bytes = "unread";
    ASSERT_TRUE(ReadWholeFile(path, &bytes));
    EXPECT_EQ(bytes, "");
    CloseResults(results);
    EndProgram();
}

// Copy takes the selected lines in list order, each with CR LF, however
// long; with nothing selected it empties the clipboard. While another
// program holds the clipboard, Copy changes nothing and keeps no block.
TEST_F(Export, CopyPutsTheSelectedLinesOnTheClipboard) {
    ProgramDriver::Window results =
        FinishedRun("1.2.3.1\r1.2.3.2\r198.51.100.7\r1.2.3.3\r1.2.3.5", 5);
    const Hwnd list = ListOf(results);
    std::vector<std::string> lines = program.ListTexts(list);
    ASSERT_EQ(lines.size(), 5u);

    auto copy = [&] {
        ASSERT_EQ(program.RightClick(list, 40, 60), "ok");
        ProgramDriver::Menu menu;
        ASSERT_TRUE(program.WaitForMenu(&menu));
        ASSERT_EQ(program.Choose(kCopyCommand), "ok");
        ASSERT_TRUE(program.WaitUntil([&] { return !program.OpenMenu(nullptr); }));
        ASSERT_TRUE(program.Idle(results.hwnd));
    };
    for (int i : {4, 0, 2}) ASSERT_EQ(program.Select(list, i, true), "ok");
    ASSERT_TRUE(program.Idle(results.hwnd));
    copy();
    ProgramDriver::Clipboard clip = program.ReadClipboard();
    EXPECT_TRUE(clip.present);
    EXPECT_EQ(clip.text, WithCrLf({lines[0], lines[2], lines[4]}));
    EXPECT_EQ(lines[4], ResultLine("198.51.100.7", false));

    const long long blocks = program.LiveCounts().blocks;
    ASSERT_EQ(program.HoldClipboard(true), "ok");
    ASSERT_EQ(program.Select(list, 1, true), "ok");
    copy();
    ASSERT_EQ(program.HoldClipboard(false), "ok");
    EXPECT_EQ(program.ReadClipboard().text, clip.text);
    EXPECT_EQ(program.LiveCounts().blocks, blocks) << "the refused block is released";

    ASSERT_EQ(program.Select(list, -1, false), "ok");
    ASSERT_TRUE(program.Idle(results.hwnd));
    copy();
    EXPECT_EQ(program.ReadClipboard().text, "");
    CloseResults(results);
    ExpectNothingLeftOfRuns(1 /* the clipboard's block */);
    EndProgram();
}

}  // namespace
}  // namespace e2e
