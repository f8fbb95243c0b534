// OrvexUpdate as a user meets it, under Wine: the program's own start-up in
// simulation mode, the real dialogs and message boxes, driven from a second
// thread the way a person would (selecting, clicking, typing, dropping a
// file), against the emulated studio of a scenario. Real clock.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/win32/Win32Names.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Log.h"
#include "platform/Dialog.h"
#include "resources/resource.h"
#include "updater/ProgramMain.h"

namespace {

std::string Cwd() {
    char buf[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, buf);
    return buf;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string WindowText(HWND h) {
    char buf[1024] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

// Device times short enough for a suite, the link unpaced.
const char* const kFastTimes = "[times]\nerase_ms = 300\npacket_ms = 0\nserial_store_ms = 20\n";

// What the user's hands do, from a thread of their own. Every wait has a
// bound; a step that does not come fails the test and the run is wound up.
class Driver {
public:
    static constexpr int kWaitMs = 90'000;

    // A top-level dialog of this process with the given caption (or any message box).
    HWND WaitWindow(const std::string& caption, int ms = kWaitMs) {
        HWND found = nullptr;
        Until(ms, "window \"" + caption + "\"", [&] {
            found = Find(caption);
            return found != nullptr;
        });
        return found;
    }
    // A message box: the dialog that is neither the main window nor the serial dialog.
    HWND WaitBox(int ms = kWaitMs) {
        HWND found = nullptr;
        Until(ms, "a message box", [&] {
            found = nullptr;
            EnumThreadWindows(uiThread, Collect, reinterpret_cast<LPARAM>(&found));
            return found != nullptr;
        });
        return found;
    }
    static std::string BoxText(HWND box) {
        HWND text = GetDlgItem(box, 0xFFFF);
        return text ? WindowText(text) : std::string();
    }
    void Answer(HWND box, int button) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0); }
    void WaitGone(HWND window, int ms = kWaitMs) {
        Until(ms, "a window to close", [&] { return !IsWindow(window) || !IsWindowVisible(window); });
    }
    // The main window in a view, told by the control only that view shows.
    HWND WaitView(int view, int ms = kWaitMs) {
        const int marker = view == 0 ? IDC_UPDATE : view == 1 ? IDC_PROGRESS : IDC_CONGRATULATIONS;
        HWND main = WaitWindow("Orvex Firmware Update", ms);
        Until(ms, "view " + std::to_string(view),
              [&] { return main && IsWindowVisible(main) && IsWindowVisible(GetDlgItem(main, marker)); });
        return main;
    }
    void Click(HWND dialog, int id) {
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    void Select(HWND main, int entry) {
        HWND list = GetDlgItem(main, IDC_UNITS);
        SendMessageA(list, CB_SETCURSEL, entry, 0);
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_UNITS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }
    void Type(HWND edit, const std::string& keys) {
        for (char c : keys) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    }
    void Clear(HWND edit) {
        SendMessageA(edit, EM_SETSEL, 0, -1);
        SendMessageA(edit, WM_CLEAR, 0, 0);
    }
    // Files dropped on the window, as the shell hands them over.
    void Drop(HWND main, const std::vector<std::string>& paths) {
        size_t size = sizeof(DROPFILES) + 1;
        for (const std::string& p : paths) size += p.size() + 1;
        HGLOBAL memory = GlobalAlloc(GHND, size);
        auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
        drop->pFiles = sizeof(DROPFILES);
        char* names = reinterpret_cast<char*>(drop + 1);
        for (const std::string& p : paths) {
            std::memcpy(names, p.c_str(), p.size() + 1);
            names += p.size() + 1;
        }
        GlobalUnlock(memory);
        PostMessageA(main, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    }
    std::string Text(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }
    std::string ListEntry(HWND main, int index) {
        char buf[512] = {};
        SendMessageA(GetDlgItem(main, IDC_UNITS), CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buf));
        return buf;
    }
    int ListCount(HWND main) { return int(SendMessageA(GetDlgItem(main, IDC_UNITS), CB_GETCOUNT, 0, 0)); }

    DWORD uiThread = 0;
    std::atomic<bool> failed{false};

private:
    // A message box: a dialog of ours that is neither the main window nor the serial dialog.
    static BOOL CALLBACK Collect(HWND h, LPARAM out) {
        char cls[64] = {};
        GetClassNameA(h, cls, sizeof cls);
        if (std::string(cls) == "#32770" && IsWindowVisible(h) && !GetDlgItem(h, IDC_UNITS) &&
            !FindWindowExA(h, nullptr, "Edit", nullptr) && GetDlgItem(h, 0xFFFF)) {
            *reinterpret_cast<HWND*>(out) = h;
            return FALSE;
        }
        return TRUE;
    }
    struct Search {
        const std::string* caption;
        HWND found;
    };
    static BOOL CALLBACK Match(HWND h, LPARAM p) {
        auto* s = reinterpret_cast<Search*>(p);
        if (!IsWindowVisible(h) || WindowText(h) != *s->caption) return TRUE;
        if (*s->caption == "Orvex Firmware Update" && !GetDlgItem(h, IDC_UNITS)) return TRUE;
        s->found = h;
        return FALSE;
    }
    HWND Find(const std::string& caption) {
        Search search{&caption, nullptr};
        EnumThreadWindows(uiThread, Match, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }
    void Until(int ms, const std::string& what, const std::function<bool()>& done) {
        if (failed) return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "waited " << ms << " ms for " << what;
                failed = true;
                return;
            }
            Sleep(20);
        }
    }
};

// One run of the program: a scenario (its text, written beside the log), the
// arguments, and the user's part on a thread of its own.
class Session {
public:
    explicit Session(const std::string& name) : dir_(Cwd() + "\\" + name) {
        CreateDirectoryA(dir_.c_str(), nullptr);
        DeleteFileA((dir_ + "\\OrvexUpdate.log").c_str());
    }
    std::string Path(const std::string& file) const { return dir_ + "\\" + file; }
    void Scenario(const std::string& text) {
        std::ofstream(Path("studio.toml")) << text;
        args_.push_back("-simulate=" + Path("studio.toml"));
    }
    void Arg(const std::string& arg) { args_.push_back(arg); }

    int Run(const std::function<void(Driver&)>& user) {
        const std::string old = Cwd();
        SetCurrentDirectoryA(dir_.c_str());
        Driver driver;
        driver.uiThread = GetCurrentThreadId();
        std::thread hands([&] {
            user(driver);
            if (driver.failed) WindUp(driver);
        });
        const int rc = RunOrvexUpdate(args_, [](COrvexUpdateDlg& dlg) {
            return plat::DialogBoxParam(IDD_ORVEXUPDATE_DIALOG, dlg);
        });
        hands.join();
        orvex::LogClose();
        SetCurrentDirectoryA(old.c_str());
        log_ = ReadText(Path("OrvexUpdate.log"));
        return rc;
    }
    const std::string& Log() const { return log_; }
    bool Logged(const std::string& line) const { return log_.find(line) != std::string::npos; }

private:
    static BOOL CALLBACK Close(HWND h, LPARAM p) {
        if (!IsWindowVisible(h)) return TRUE;
        *reinterpret_cast<bool*>(p) = true;
        PostMessageA(h, WM_COMMAND, IsWindowVisible(GetDlgItem(h, IDOK)) ? IDOK : IDCANCEL, 0);
        return TRUE;
    }
    // A step that never came: close whatever is open so the run can end.
    static void WindUp(Driver& d) {
        for (int i = 0; i < 200; ++i) {
            bool open = false;
            EnumThreadWindows(d.uiThread, Close, reinterpret_cast<LPARAM>(&open));
            if (!open) return;
            Sleep(100);
        }
    }

    std::string dir_;
    std::vector<std::string> args_;
    std::string log_;
};

std::string Unit(const std::string& body) { return std::string(kFastTimes) + "[[unit]]\nport = \"Studio A\"\n" + body; }

// Update pressed, confirmed, and the Done view reached: the common path.
void ConfirmAndFinish(Driver& d, HWND main, const std::string& confirmation) {
    d.Click(main, IDC_UPDATE);
    HWND box = d.WaitBox();
    if (!box) return;
    EXPECT_EQ(Driver::BoxText(box), confirmation);
    d.Answer(box, IDOK);
    d.WaitView(2, 120'000);
    d.Click(main, IDOK);
}

TEST(EndToEnd, AnUpdateOverMidiEndsInTheDoneViewAndTheUnitBootsTheNewImage) {
    for (uint8_t running : {1, 2}) {
        SCOPED_TRACE(running);
        Session s("update-bank" + std::to_string(running));
        s.Scenario(Unit("firmware = [28, 28]\npcb = \"B\"\nserial = \"2612150123\"\nrunning_bank = " +
                        std::to_string(running) + "\n"));
        std::string caption;
        s.Run([&](Driver& d) {
            HWND main = d.WaitView(0);
            if (!main) return;
            EXPECT_EQ(d.ListCount(main), 1);
            EXPECT_EQ(d.ListEntry(main, 0), "Orvex 16 connected via Studio A Out");
            EXPECT_EQ(d.Text(main, IDC_SERIAL), "2612150123");
            EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "31");
            d.Click(main, IDC_UPDATE);
            HWND box = d.WaitBox();
            if (!box) return;
            caption = WindowText(box);
            EXPECT_EQ(Driver::BoxText(box),
                      "About to program the Orvex 16 connected via Studio A Out with Firmware Version 31");
            d.Answer(box, IDOK);
            d.WaitView(1);
            HWND done = d.WaitView(2, 120'000);
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(done, IDC_UPDATE)));
            d.Click(main, IDOK);
        });
        EXPECT_EQ(caption, "Firmware Update Confirmation");
        EXPECT_TRUE(s.Logged("EEPROM Programming Success")) << s.Log();
        EXPECT_TRUE(s.Logged(running == 1 ? "Bank 1 is Active" : "Bank 2 is Active"));
        EXPECT_TRUE(s.Logged(running == 1 ? "Active Bank is 1, Selecting Bank 2" : "Active Bank is 2, Selecting Bank 1"));
        const std::string boots = "boots bank " + std::to_string(3 - running) + ", firmware 31";
        EXPECT_TRUE(s.Logged(boots)) << s.Log();
        EXPECT_TRUE(s.Logged("1660 packets written and 1660 verified"));
    }
}

TEST(EndToEnd, AnXSlotCardIsChosenInTheListAndUpdated) {
    Session s("card");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"2612150125\"\n[unit.card]\nkind = \"DI-ZO\"\nfirmware = 13\npcb = \"B\"\n"));
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0);
        if (!main) return;
        ASSERT_EQ(d.ListCount(main), 2);
        EXPECT_EQ(d.ListEntry(main, 1), "DI-ZO in Orvex 16 connected via Studio A Out");
        d.Select(main, 1);
        for (int i = 0; i < 100 && d.Text(main, IDC_NEW_VERSION) != "15"; ++i) Sleep(20);
        EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "15");
        EXPECT_EQ(d.Text(main, IDC_CURRENT_VERSION), "13");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(main, IDC_ALT_VERSION)));
        ConfirmAndFinish(d, main, "About to program the DI-ZO in Orvex 16 connected via Studio A Out with Firmware Version 15");
    });
    EXPECT_TRUE(s.Logged("OnSelChangeModel"));
    EXPECT_TRUE(s.Logged("SelectXSlotFirmware 1"));
    EXPECT_TRUE(s.Logged("its DI-ZO card boots firmware 15")) << s.Log();
    EXPECT_TRUE(s.Logged("boots bank 1, firmware 28")) << "the converter itself is untouched";
}

TEST(EndToEnd, ABlankSerialIsTypedUntilItIsValid) {
    Session s("serial");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"blank\"\n"));
    s.Run([](Driver& d) {
        HWND dialog = d.WaitWindow("Enter Orvex Serial Number");
        if (!dialog) return;
        HWND edit = GetDlgItem(dialog, IDC_SERIAL_EDIT);
        d.Type(edit, "26x12.15");  // the field takes digits only
        EXPECT_EQ(d.Text(dialog, IDC_SERIAL_EDIT), "261215");
        d.Click(dialog, IDOK);
        HWND box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(Driver::BoxText(box), "Invalid Serial Number!");
        d.Answer(box, IDOK);
        d.WaitGone(box);
        d.Clear(edit);
        d.Type(edit, "2612540001");  // week 54
        d.Click(dialog, IDOK);
        box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(Driver::BoxText(box), "Invalid Serial Number!");
        d.Answer(box, IDOK);
        d.WaitGone(box);
        d.Clear(edit);
        d.Type(edit, "26121501239");  // the eleventh digit submits the ten before it
        HWND main = d.WaitView(0);
        if (!main) return;
        EXPECT_EQ(d.Text(main, IDC_SERIAL), "2612150123");
        EXPECT_EQ(d.Text(main, IDC_MANUFACTURE_DATE), "Apr 09, 2012");
        d.Click(main, IDCANCEL);
    });
    EXPECT_TRUE(s.Logged("SerialNumber: 2612150123")) << s.Log();
    EXPECT_TRUE(s.Logged("boots bank 1, firmware 28, serial 2612150123")) << "stored by the unit";
}

TEST(EndToEnd, ASerialOfAnotherModelIsRefusedAndTheWindowEnds) {
    Session s("serial-model");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"blank\"\n"));
    s.Run([](Driver& d) {
        HWND dialog = d.WaitWindow("Enter Orvex Serial Number");
        if (!dialog) return;
        d.Type(GetDlgItem(dialog, IDC_SERIAL_EDIT), "2712150001");
        d.Click(dialog, IDOK);
        HWND box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(WindowText(box), "COrvexRemote");
        EXPECT_EQ(Driver::BoxText(box), "WriteSerialNumber: SerialNumber Model does not match PID!");
        d.Answer(box, IDOK);
    });
    EXPECT_TRUE(s.Logged("UpdateSelectedConnection Failed!")) << s.Log();
    EXPECT_TRUE(s.Logged("serial blank")) << "nothing was stored";
}

TEST(EndToEnd, CancelAtTheConfirmationLeavesTheUnitAsItWas) {
    Session s("cancel");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"2612150123\"\n"));
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0);
        if (!main) return;
        d.Click(main, IDC_UPDATE);
        HWND box = d.WaitBox();
        if (!box) return;
        d.Answer(box, IDCANCEL);
        d.WaitView(0);
        d.Click(main, IDCANCEL);
    });
    EXPECT_FALSE(s.Logged("ProgramEEPROM")) << s.Log();
    EXPECT_TRUE(s.Logged("boots bank 1, firmware 28"));
}

TEST(EndToEnd, AFailureMidUpdateReturnsToReadyAndTheUnitBootsItsOldFirmware) {
    Session s("failure");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"2612150128\"\n[unit.fault]\nkind = \"fail-packet\"\nat = 830\n"));
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0);
        if (!main) return;
        d.Click(main, IDC_UPDATE);
        HWND box = d.WaitBox();
        if (!box) return;
        d.Answer(box, IDOK);
        d.WaitGone(box);
        box = d.WaitBox(120'000);
        if (!box) return;
        EXPECT_EQ(WindowText(box), "Orvex Firmware Update");
        EXPECT_EQ(Driver::BoxText(box), "Wait for Write Firmware Packet Failed!\n\nPGMERR");
        d.Answer(box, IDOK);
        d.WaitGone(box);
        box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(WindowText(box), "EEPROM Programming Failure");
        EXPECT_EQ(Driver::BoxText(box), "Updating the Firmware on the Orvex FAILED!");
        d.Answer(box, IDOK);
        d.WaitView(0);
        d.Click(main, IDCANCEL);
    });
    EXPECT_TRUE(s.Logged("Wait for Write Firmware Packet Failed!")) << s.Log();
    EXPECT_TRUE(s.Logged("boots bank 1, firmware 28"));
    EXPECT_TRUE(s.Logged("update not completed (830 packets written"));
}

TEST(EndToEnd, AnImageFileOnTheCommandLineOrDroppedIsWritten) {
    // A short image of each, carrying its revision where the unit reads it.
    std::vector<uint8_t> image(20'000, 0x5A);
    image[0x110] = 31;
    Session s("files");
    WriteBytes(s.Path("OVF031B.BIN"), image);
    image[0x110] = 28;
    WriteBytes(s.Path("OVF028A.BIN"), image);
    WriteBytes(s.Path("OV8031B.BIN"), image);
    s.Scenario(Unit("pcb = \"B\"\nserial = \"2612150123\"\n"));
    s.Arg(s.Path("OVF031B.BIN"));
    std::string caption;
    s.Run([&](Driver& d) {
        HWND main = d.WaitView(0);
        if (!main) return;
        EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "31");
        // Of two dropped files only the first counts.
        d.Drop(main, {s.Path("OVF028A.BIN"), s.Path("OV8031B.BIN")});
        for (int i = 0; i < 100 && d.Text(main, IDC_NEW_VERSION) != "28"; ++i) Sleep(20);
        EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "28");
        d.Click(main, IDC_UPDATE);
        HWND box = d.WaitBox();
        if (!box) return;
        caption = WindowText(box);
        EXPECT_EQ(Driver::BoxText(box), "About to program the Orvex 16 connected via Studio A Out with Firmware Version 28");
        d.Answer(box, IDOK);
        d.WaitView(2);
        d.Click(main, IDOK);
    });
    EXPECT_EQ(caption, s.Path("OVF028A.BIN"));
    EXPECT_TRUE(s.Logged("OnDropFiles: " + s.Path("OVF028A.BIN"))) << s.Log();
    EXPECT_FALSE(s.Logged("OnDropFiles: " + s.Path("OV8031B.BIN")));
    EXPECT_TRUE(s.Logged("157 packets written and 157 verified"));
    EXPECT_TRUE(s.Logged("boots bank 2, firmware 28"));
    EXPECT_EQ(ReadBytes(s.Path("OVF028A.BIN")).size(), 20'000u) << "the user's file stays";
}

TEST(EndToEnd, ADoZazAheadOfAnOldUnitIsTakenBackToFiveThirty) {
    Session s("dozaz-down");
    s.Scenario(Unit("firmware = [25, 25]\npcb = \"B\"\nserial = \"2611100001\"\n"
                    "[unit.card]\nkind = \"DO-ZAZ\"\nfirmware = 10\n"));
    s.Run([](Driver& d) {
        HWND box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(Driver::BoxText(box).rfind("The DO-ZAZ firmware MUST be revision 5.30 or lower", 0), 0u);
        d.Answer(box, IDOK);
        HWND main = d.WaitView(0);
        if (!main) return;
        EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_UNITS), CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "5");
        ConfirmAndFinish(d, main, "About to program the DO-ZAZ in Orvex 16 connected via Studio A Out with Firmware Version 5");
    });
    EXPECT_TRUE(s.Logged("ProgramEEPROM DO-ZAZ 47616")) << s.Log();
    EXPECT_TRUE(s.Logged("ProgramEEPROM DO-ZAZ Success!"));
    EXPECT_TRUE(s.Logged("its DO-ZAZ card boots firmware 5.30"));
}

TEST(EndToEnd, ADoZazCannotGoBeforeItsOldUnit) {
    Session s("dozaz-first");
    s.Scenario(Unit("firmware = [25, 25]\npcb = \"B\"\nserial = \"2611100002\"\n"
                    "[unit.card]\nkind = \"DO-ZAZ\"\nfirmware = 5\nfirmware_minor = 30\n"));
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0);
        if (!main) return;
        d.Select(main, 1);
        HWND box = d.WaitBox();
        if (!box) return;
        EXPECT_EQ(Driver::BoxText(box), "You must upgrade the Orvex firmware before the DO-ZAZ firmware.\n\nThe Orvex is "
                                        "automatically being selected.\n");
        d.Answer(box, IDOK);
        d.WaitGone(box);
        for (int i = 0; i < 100 && SendMessageA(GetDlgItem(main, IDC_UNITS), CB_GETCURSEL, 0, 0) != 0; ++i) Sleep(20);
        EXPECT_EQ(SendMessageA(GetDlgItem(main, IDC_UNITS), CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "31");
        d.Click(main, IDCANCEL);
    });
    EXPECT_TRUE(s.Logged("MIDI: Cannot upgrade DO-ZAZ firmware first!")) << s.Log();
}

TEST(EndToEnd, ADoZazOnACurrentUnitIsUpdatedOrSaysItFailed) {
    for (bool fails : {false, true}) {
        SCOPED_TRACE(fails);
        Session s(fails ? "dozaz-fails" : "dozaz");
        s.Scenario(Unit(std::string("pcb = \"B\"\nserial = \"2612150127\"\n") +
                        "[unit.card]\nkind = \"DO-ZAZ\"\nfirmware = 5\nfirmware_minor = 30\n" +
                        (fails ? "[unit.fault]\nkind = \"download-fails\"\nat = 20000\n" : "")));
        s.Run([fails](Driver& d) {
            HWND main = d.WaitView(0);
            if (!main) return;
            ASSERT_EQ(d.ListCount(main), 2);
            d.Select(main, 1);
            for (int i = 0; i < 100 && d.Text(main, IDC_NEW_VERSION) != "10"; ++i) Sleep(20);
            EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "10");
            if (!fails) {
                ConfirmAndFinish(d, main, "About to program the DO-ZAZ in Orvex 16 connected via Studio A Out with "
                                          "Firmware Version 10");
                return;
            }
            d.Click(main, IDC_UPDATE);
            HWND box = d.WaitBox();
            if (!box) return;
            d.Answer(box, IDOK);
            d.WaitGone(box);
            box = d.WaitBox(120'000);
            if (!box) return;
            EXPECT_EQ(WindowText(box), "EEPROM Programming Failure");
            EXPECT_EQ(Driver::BoxText(box), "DO-ZAZ Firmware Update Failed!");
            d.Answer(box, IDOK);
            d.WaitView(0);
            d.Click(main, IDCANCEL);
        });
        EXPECT_TRUE(s.Logged(fails ? "its DO-ZAZ card boots firmware 5.30" : "its DO-ZAZ card boots firmware 10"))
            << s.Log();
    }
}

// Short images of their own (each carrying its revision where the unit reads
// it) keep the run short: every exchange over the emulated network costs a
// turn of the status wait.
TEST(EndToEnd, AnOrvexAndItsVaVovuzCardAreUpdatedOverTheNetwork) {
    const std::string studio =
        std::string(kFastTimes) +
        "[[unit]]\nlink = \"network\"\npcb = \"B\"\nserial = \"2612150140\"\n"
        "[unit.card]\nkind = \"VA-VOVUZ\"\nfirmware = 1\nfirmware_minor = 1\nserial = \"1517060008\"\n";
    struct Target {
        const char* name;
        const char* image;
        uint8_t revision, minor;
        int entry;
        const char* confirmation;
        const char* boots;
    } targets[] = {
        {"network", "OVF031B.BIN", 31, 0, 0,
         "About to program the Orvex 16 connected via Velun (127.0.0.2) with Firmware Version 31",
         "boots bank 2, firmware 31"},
        {"network-card", "XCDNT0102NC.BIN", 1, 2, 1,
         "About to program the VA-VOVUZ in Orvex 16 connected via Velun (127.0.0.2) with Firmware Version 1.2",
         "its VA-VOVUZ card boots firmware 1.2"},
    };
    for (const Target& t : targets) {
        SCOPED_TRACE(t.name);
        Session s(t.name);
        std::vector<uint8_t> image(12'800, 0x3C);
        image[0x110] = t.revision;
        image[0x111] = t.minor;
        WriteBytes(s.Path(t.image), image);
        s.Scenario(studio);
        s.Arg(s.Path(t.image));
        s.Run([&t](Driver& d) {
            HWND main = d.WaitView(0, 30'000);
            if (!main) return;
            ASSERT_EQ(d.ListCount(main), 2);
            EXPECT_EQ(d.ListEntry(main, 0), "Orvex 16 connected via Velun (127.0.0.2)");
            EXPECT_EQ(d.ListEntry(main, 1), "VA-VOVUZ in Orvex 16 connected via Velun (127.0.0.2)");
            if (t.entry == 1) {
                d.Select(main, 1);
                for (int i = 0; i < 100 && d.Text(main, IDC_NEW_VERSION) != "1.2"; ++i) Sleep(20);
                EXPECT_EQ(d.Text(main, IDC_NEW_VERSION), "1.2");
            }
            ConfirmAndFinish(d, main, t.confirmation);
        });
        EXPECT_TRUE(s.Logged("EEPROM Programming Success")) << s.Log();
        EXPECT_TRUE(s.Logged("100 packets written and 100 verified"));
        EXPECT_TRUE(s.Logged(t.boots));
        if (t.entry == 1) {
            EXPECT_TRUE(s.Logged("boots bank 1, firmware 28")) << "the converter is untouched";
        }
    }
}

const char* const kAdapterUnit =
    "[[unit]]\nlink = \"adapter\"\npcb = \"B\"\nserial = \"2612150150\"\n"
    "[unit.adapter]\nmodel = \"Tarsel-X\"\nslot = 3\nlock_ms = 50\n";

TEST(EndToEnd, AnUpdateThroughTheAdapterCardEndsInTheDoneView) {
    Session s("adapter");
    s.Scenario(std::string(kFastTimes) + kAdapterUnit);
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0, 30'000);
        if (!main) return;
        EXPECT_EQ(d.ListEntry(main, 0), "Orvex 16 on Pelk Tarsel-X in PCI Slot 3");
        ConfirmAndFinish(d, main, "About to program the Orvex 16 on Pelk Tarsel-X in PCI Slot 3 with Firmware Version 31");
    });
    EXPECT_TRUE(s.Logged("Found Orvex Using Tarsel. Number Of Connections: 1")) << s.Log();
    EXPECT_TRUE(s.Logged("EEPROM Programming Success"));
    EXPECT_TRUE(s.Logged("boots bank 2, firmware 31"));
}

TEST(EndToEnd, AnAdapterWhoseFirmwareDoesNotSuitTheUnitIsRefused) {
    struct Case {
        const char* name;
        const char* unit;
        const char* text;
    } cases[] = {
        {"r20", "firmware = [5, 5]\n[unit.adapter]\nmodel = \"Tarsel\"\nfirmware = 22\n",
         "The Tarsel Firmware MUST be Revision 20 to function with\nthe version of Firmware currently on this "
         "Orvex.\n\nYou MUST put Firmware Revision 20 on your Tarsel using\nthe C2Update20o.exe program available from "
         "the Orvex\nFirmware Update Instructions on the Pelk Web Site.\n\nOnce you have put Firmware Revision 20 on "
         "your Tarsel\nyou may rerun this program to update your Orvex."},
        {"r22", "firmware = [12, 12]\n[unit.adapter]\nmodel = \"Tarsel\"\nfirmware = 21\n",
         "The Tarsel Firmware MUST be Revision 22 to function with\nthe version of Firmware currently on this "
         "Orvex.\n\nYou MUST put Firmware Revision 22 on your Tarsel using\nthe C2Update21o.exe program available from "
         "the Orvex\nFirmware Update Instructions on the Pelk Web Site.\n\nOnce you have put Firmware Revision 22 on "
         "your Tarsel\nyou may rerun this program to update your Orvex."},
        {"r23", "firmware = [28, 28]\n[unit.adapter]\nmodel = \"Tarsel-R\"\nfirmware = 22\n",
         "The Tarsel Firmware MUST be Revision 23 or higher to function with the\nversion of Firmware currently on "
         "this Orvex.\n\nPlease update your Tarsel Firmware before running OrvexUpdate again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(std::string("adapter-") + c.name);
        s.Scenario(std::string(kFastTimes) + "[[unit]]\nlink = \"adapter\"\npcb = \"B\"\nserial = \"2605100001\"\n" +
                   c.unit + "lock_ms = 50\n");
        std::string caption;
        s.Run([&](Driver& d) {
            HWND box = d.WaitBox(30'000);
            if (!box) return;
            caption = WindowText(box);
            EXPECT_EQ(Driver::BoxText(box), c.text);
            d.Answer(box, IDOK);
        });
        EXPECT_EQ(caption, "Orvex Firmware Update");
        EXPECT_TRUE(s.Logged("Tarsel Firmware Invalid!")) << s.Log();
        EXPECT_TRUE(s.Logged("Exiting"));
    }
}

// The keys held down while the window opens, as the user does it: on the X
// display Wine draws on, through the X server's own test extension.
bool HoldShiftAndControl(bool down) {
    std::string command = std::string("Z:\\usr\\bin\\xdotool ") + (down ? "keydown" : "keyup") + " shift ctrl";
    STARTUPINFOA startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 10'000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 50; ++i) {
        if (((GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0) == down && ((GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0) == down)
            return true;
        Sleep(20);
    }
    return false;
}

TEST(EndToEnd, ShiftAndControlHeldSkipTheAdapterCard) {
    Session s("shift-control");
    s.Scenario(std::string(kFastTimes) + kAdapterUnit +
               "[[unit]]\nport = \"Studio A\"\npcb = \"B\"\nserial = \"2612150123\"\n");
    ASSERT_TRUE(HoldShiftAndControl(true)) << "the keys cannot be held down here";
    s.Run([](Driver& d) {
        HWND main = d.WaitView(0, 30'000);
        HoldShiftAndControl(false);
        if (!main) return;
        EXPECT_EQ(d.ListCount(main), 1);
        EXPECT_EQ(d.ListEntry(main, 0), "Orvex 16 connected via Studio A Out");
        d.Click(main, IDCANCEL);
    });
    HoldShiftAndControl(false);
    EXPECT_TRUE(s.Logged("User is pressing CONTROL+SHIFT: Ignoring Tarsel Card")) << s.Log();
}

// ---- the templates as the running program shows them --------------------------

struct Control {
    int id;
    const char* text;  // null: not compared
    int x, y, w, h;
    const char* views;  // visible in Ready, Programming, Done: "SSH" etc; null: always shown
};

// Control positions in dialog units, their texts and views.
const Control kMainControls[] = {
    {-1, "Select Unit to Update:", 7, 9, 90, 8, nullptr},
    {IDC_UNITS, nullptr, 100, 7, 210, 0, nullptr},
    {-1, "Serial Number:", 7, 22, 90, 8, nullptr},
    {IDC_SERIAL, nullptr, 100, 22, 70, 8, nullptr},
    {-1, "Manufacture Date:", 7, 32, 90, 8, nullptr},
    {IDC_MANUFACTURE_DATE, nullptr, 99, 32, 70, 8, nullptr},
    {-1, "PCB Revision:", 7, 42, 90, 8, nullptr},
    {IDC_PCBREV, nullptr, 100, 42, 70, 8, nullptr},
    {-1, "Current Firmware Version:", 7, 52, 90, 8, nullptr},
    {IDC_CURRENT_VERSION, nullptr, 100, 52, 70, 8, nullptr},
    {-1, "Current Firmware Date:", 7, 62, 90, 8, nullptr},
    {IDC_CURRENT_DATE, nullptr, 100, 62, 70, 8, nullptr},
    {IDC_ALT_VERSION_LABEL, "Alternate Firmware Version:", 7, 72, 90, 8, nullptr},
    {IDC_ALT_VERSION, nullptr, 100, 72, 70, 8, nullptr},
    {IDC_ALT_DATE_LABEL, "Alternate Firmware Date:", 7, 82, 90, 8, nullptr},
    {IDC_ALT_DATE, nullptr, 100, 82, 70, 8, nullptr},
    {-1, "New Firmware Version:", 175, 52, 75, 8, nullptr},
    {IDC_NEW_VERSION, nullptr, 253, 52, 70, 8, nullptr},
    {-1, "New Firmware Date:", 175, 62, 75, 8, nullptr},
    {IDC_NEW_DATE, nullptr, 253, 62, 70, 8, nullptr},
    {IDC_NOTICE1, "This program will update the firmware on the selected Orvex.", 7, 96, 316, 8, "SHH"},
    {IDC_NOTICE2,
     "Once the firmware update process has begun DO NOT interrupt it or power off this computer or the Orvex.", 7,
     107, 316, 16, "SHH"},
    {IDC_NOTICE3, "", 7, 125, 316, 16, "SHH"},
    {IDC_DONT_INTERRUPT, "Do NOT interrupt this process or power off this computer or the Orvex!", 7, 108, 316, 8,
     "HSH"},
    {IDC_PROGRAMMING, nullptr, 7, 132, 316, 10, "HSH"},
    {IDC_CONGRATULATIONS,
     "Congratulations!\n\nThe firmware has been successfully updated on the Orvex.  To complete this process, you "
     "must POWER OFF the Orvex, then unplug the AC power cord.",
     7, 95, 316, 38, "HHS"},
    {IDCANCEL, "Cancel", 107, 145, 50, 14, "SHH"},
    {IDC_UPDATE, "Update", 173, 145, 50, 14, "SHH"},
    {IDOK, "Close", 139, 145, 50, 14, "HHS"},
    {IDC_PROGRESS, nullptr, 7, 145, 316, 14, "HSH"},
};

const Control kSerialControls[] = {
    {-1,
     "The Serial Number on your Orvex is blank.  To proceed, you must enter the serial number printed on the back of "
     "your Orvex.",
     7, 7, 172, 26, nullptr},
    {-1, "Serial Number:", 7, 43, 47, 8, nullptr},
    {IDC_SERIAL_EDIT, "", 55, 42, 65, 14, nullptr},
    {IDOK, "OK", 41, 74, 50, 14, nullptr},
    {IDCANCEL, "Cancel", 98, 74, 50, 14, nullptr},
};

// The control of a table row: by id, or a label by its text.
HWND ControlOf(HWND dialog, const Control& c) {
    if (c.id != -1) return GetDlgItem(dialog, c.id);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if ((GetDlgCtrlID(child) == -1 || GetDlgCtrlID(child) == 0xFFFF) && WindowText(child) == c.text) return child;
    return nullptr;
}

void CompareWithTemplate(HWND dialog, const Control* controls, size_t count, int view) {
    for (size_t i = 0; i < count; ++i) {
        const Control& c = controls[i];
        SCOPED_TRACE(testing::Message() << "control " << c.id << " " << (c.text ? c.text : "") << " view " << view);
        HWND h = ControlOf(dialog, c);
        ASSERT_NE(h, nullptr);
        if (c.text) EXPECT_EQ(WindowText(h), c.text);
        RECT units{c.x, c.y, c.x + c.w, c.y + c.h};
        MapDialogRect(dialog, &units);
        RECT r;
        GetWindowRect(h, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_NEAR(r.left, units.left, 1);
        EXPECT_NEAR(r.top, units.top, 1);
        EXPECT_NEAR(r.right - r.left, units.right - units.left, 1);
        if (c.h) EXPECT_NEAR(r.bottom - r.top, units.bottom - units.top, 1);
        if (c.views) EXPECT_EQ(IsWindowVisible(h) != FALSE, c.views[view] == 'S');
    }
}

TEST(EndToEnd, TheWindowsControlsMatchTheTemplatesInEveryView) {
    Session s("templates");
    s.Scenario(Unit("pcb = \"B\"\nserial = \"blank\"\n"));
    s.Run([](Driver& d) {
        HWND dialog = d.WaitWindow("Enter Orvex Serial Number");
        if (!dialog) return;
        RECT client;
        GetClientRect(dialog, &client);
        RECT size{0, 0, 186, 95};
        MapDialogRect(dialog, &size);
        EXPECT_NEAR(client.right, size.right, 2);
        EXPECT_NEAR(client.bottom, size.bottom, 2);
        CompareWithTemplate(dialog, kSerialControls, std::size(kSerialControls), 0);
        d.Type(GetDlgItem(dialog, IDC_SERIAL_EDIT), "2612150123");
        d.Click(dialog, IDOK);

        HWND main = d.WaitView(0);
        if (!main) return;
        GetClientRect(main, &client);
        size = {0, 0, 330, 166};
        MapDialogRect(main, &size);
        EXPECT_NEAR(client.right, size.right, 2);
        EXPECT_NEAR(client.bottom, size.bottom, 2);
        EXPECT_EQ(WindowText(main), "Orvex Firmware Update");
        CompareWithTemplate(main, kMainControls, std::size(kMainControls), 0);
        d.Click(main, IDC_UPDATE);
        HWND box = d.WaitBox();
        if (!box) return;
        // The confirmation is up: the window already shows its Programming view.
        CompareWithTemplate(main, kMainControls, std::size(kMainControls), 1);
        d.Answer(box, IDOK);
        d.WaitView(2, 120'000);
        CompareWithTemplate(main, kMainControls, std::size(kMainControls), 2);
        d.Click(main, IDOK);
    });
    EXPECT_TRUE(s.Logged("EEPROM Programming Success")) << s.Log();
}

}  // namespace
