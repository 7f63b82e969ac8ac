#include <doctest.h>

#include <cwctype>
#include <optional>

#include "setup/setup_core.h"
#include "storage/sign_in_start_core.h"

namespace {

const std::wstring kExe = L"C:\\Downloads\\OstrelSetup.exe";

const RegistryValue* Find(const std::vector<RegistryValue>& values, const std::wstring& name) {
    for (const RegistryValue& value : values) {
        if (value.name == name) return &value;
    }
    return nullptr;
}

}  // namespace

TEST_CASE("installer command line") {
    SUBCASE("nothing given") {
        const SetupOptions o = ParseSetupOptions({kExe});
        CHECK_FALSE(o.silent);
        CHECK_FALSE(o.uninstall);
        CHECK(o.parent_pid == 0);
        CHECK(o.dir.empty());
        CHECK(o.start_menu_dir.empty());
        CHECK(o.reg_key == L"NIRAOstrel");
    }
    SUBCASE("switch names without regard to case, values taken whole") {
        const SetupOptions o = ParseSetupOptions(
            {kExe, L"/s", L"/UNINSTALL", L"/DIR", L"C:\\My Apps\\Ostrel", L"/StartMenu", L"C:\\Menu", L"/PARENT", L"4242"});
        CHECK(o.silent);
        CHECK(o.uninstall);
        CHECK(o.dir == L"C:\\My Apps\\Ostrel");
        CHECK(o.start_menu_dir == L"C:\\Menu");
        CHECK(o.parent_pid == 4242);
        CHECK(o.startAtSignIn);
        CHECK_FALSE(ParseSetupOptions({kExe, L"/S", L"/NoStartup"}).startAtSignIn);
    }
    SUBCASE("a value switch takes the next argument, whatever it is; the last one counts") {
        const SetupOptions o = ParseSetupOptions({kExe, L"/dir", L"/S", L"/dir", L"C:\\B", L"extra", L"-S", L"/Sx"});
        CHECK(o.dir == L"C:\\B");
        CHECK_FALSE(o.silent);
    }
    SUBCASE("a value switch at the end is ignored") {
        CHECK(ParseSetupOptions({kExe, L"/dir", L"C:\\A", L"/dir"}).dir == L"C:\\A");
        CHECK(ParseSetupOptions({kExe, L"/S", L"/regkey"}).reg_key == L"NIRAOstrel");
        CHECK(ParseSetupOptions({kExe, L"/parent"}).parent_pid == 0);
    }
    SUBCASE("registration key names are letters and digits only") {
        CHECK(ParseSetupOptions({kExe, L"/regkey", L"Test2"}).reg_key == L"Test2");
        for (const wchar_t* bad : {L"a-b", L"", L"Test 2", L"..\\Run", L"K\u00e9y"}) {
            CHECK(ParseSetupOptions({kExe, L"/regkey", bad}).reg_key == L"NIRAOstrel");
        }
    }
    SUBCASE("parent ids that are no process id read as none") {
        CHECK(ParseSetupOptions({kExe, L"/parent", L"12abc"}).parent_pid == 12);
        CHECK(ParseSetupOptions({kExe, L"/parent", L"4294967295"}).parent_pid == 4294967295u);
        CHECK(ParseSetupOptions({kExe, L"/parent", L"4294967296"}).parent_pid == 0);
        CHECK(ParseSetupOptions({kExe, L"/parent", L"-5"}).parent_pid == 0);
    }
}

TEST_CASE("the command line as typed at a command prompt") {
    using Args = std::vector<std::wstring>;
    // A folder typed with a backslash before its closing quote: the quote ends
    // the value instead of swallowing the switches after it.
    const Args typed = SplitSetupCommandLine(L"\"C:\\Down\\OstrelSetup.exe\" /dir \"C:\\My Apps\\\" /S");
    CHECK(typed == Args{L"C:\\Down\\OstrelSetup.exe", L"/dir", L"C:\\My Apps\\", L"/S"});
    const SetupOptions o = ParseSetupOptions(typed);
    CHECK((o.silent && TrimTrailingSeparators(o.dir) == L"C:\\My Apps"));
    CHECK(SplitSetupCommandLine(L"setup /dir \"C:\\A B\\\" /startmenu \"C:\\M N\\\"\t/S") ==
          Args{L"setup", L"/dir", L"C:\\A B\\", L"/startmenu", L"C:\\M N\\", L"/S"});
    CHECK(SplitSetupCommandLine(L"setup /dir C:\\A\\\"") == Args{L"setup", L"/dir", L"C:\\A\\"});
    // Everywhere else the shell's rules.
    CHECK(SplitSetupCommandLine(L"C:\\x\\setup.exe  a\\\\b \"c d\" e\\\"f \"g\\\\\" \"\" h\"i j\"k") ==
          Args{L"C:\\x\\setup.exe", L"a\\\\b", L"c d", L"e\"f", L"g\\", L"", L"hi jk"});
    // The hand-off line comes back as it was made.
    const SetupOptions handed =
        ParseSetupOptions(SplitSetupCommandLine(HandOffCommandLine(L"C:\\T\\c.exe", L"D:\\", L"Test2", 7, true)));
    CHECK((handed.uninstall && handed.silent && handed.dir == L"D:\\" && handed.reg_key == L"Test2" && handed.parent_pid == 7));
}

TEST_CASE("installed paths keep a drive root whole") {
    CHECK(TrimTrailingSeparators(L"C:\\Apps\\Ostrel\\\\") == L"C:\\Apps\\Ostrel");
    CHECK(TrimTrailingSeparators(L"C:\\") == L"C:\\");
    CHECK(MakeInstallLayout(L"C:\\", L"C:\\Menu").programPath == L"C:\\OstrelWindows.exe");
    CHECK(MakeInstallLayout(L"C:\\A", L"").shortcutPath.empty());
    CHECK(FolderOf(L"OstrelWindows.exe") == L"OstrelWindows.exe");
}

// Every value's text is checked against the installed registration end to end.
TEST_CASE("registration values, in the order they are written") {
    const InstallLayout layout = MakeInstallLayout(L"C:\\P\\NIRA Ostrel", L"C:\\Menu");
    const auto values = RegistrationValues(layout, L"NIRAOstrel", L"https://example.test", 657408);
    std::vector<std::wstring> names;
    for (const RegistryValue& value : values) names.push_back(value.name);
    CHECK(names == std::vector<std::wstring>{L"DisplayName", L"DisplayVersion", L"Publisher", L"DisplayIcon",
                                             L"InstallLocation", L"URLInfoAbout", L"HelpLink", L"OstrelShortcut",
                                             L"UninstallString", L"QuietUninstallString", L"NoModify", L"NoRepair",
                                             L"EstimatedSize"});
    CHECK(Find(values, L"EstimatedSize")->number == 643);

    const auto custom = RegistrationValues(layout, L"Test2", L"https://example.test", std::nullopt);
    CHECK(Find(custom, L"QuietUninstallString")->text ==
          L"\"C:\\P\\NIRA Ostrel\\Uninstall Ostrel.exe\" /uninstall /regkey Test2 /S");
    CHECK(Find(custom, L"EstimatedSize") == nullptr);
    CHECK(EstimatedSizeKb(1023) == 1);
    CHECK(EstimatedSizeKb(uint64_t{1} << 50) == 0xFFFFFFFFu);
}

TEST_CASE("the hand-off to the temporary copy") {
    const std::wstring copy = TemporaryCopyPath(L"C:\\Users\\ann\\AppData\\Local\\Temp\\", 1234);
    CHECK(copy == L"C:\\Users\\ann\\AppData\\Local\\Temp\\OstrelUninstall-1234.exe");
    CHECK(HandOffCommandLine(copy, L"C:\\P\\NIRA Ostrel", L"NIRAOstrel", 1234, false) ==
          L"\"C:\\Users\\ann\\AppData\\Local\\Temp\\OstrelUninstall-1234.exe\" /uninstall /dir \"C:\\P\\NIRA Ostrel\" "
          L"/regkey NIRAOstrel /parent 1234");
    CHECK(HandOffCommandLine(copy, L"C:\\P", L"Test2", 7, true).ends_with(L"/dir \"C:\\P\" /regkey Test2 /parent 7 /S"));
    // A folder ending in a backslash must not escape its closing quote.
    CHECK(HandOffCommandLine(L"C:\\T\\c.exe", L"D:\\", L"NIRAOstrel", 1, false) ==
          L"\"C:\\T\\c.exe\" /uninstall /dir \"D:\\\\\" /regkey NIRAOstrel /parent 1");
    CHECK(QuoteArgument(L"a\\\"b") == L"\"a\\\\\\\"b\"");
}

TEST_CASE("the sign-in start: this program's value, a stale one to mend, another copy's left alone") {
    const std::wstring own = L"C:\\Users\\Zo\\AppData\\Local\\Programs\\NIRA Ostrel\\OstrelWindows.exe";
    const auto same = [](std::wstring_view a, std::wstring_view b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::towlower(a[i]) != std::towlower(b[i])) return false;
        return true;
    };
    const auto there = [](const std::wstring& path) { return path == L"D:\\Portable\\OstrelWindows.exe"; };
    const auto judge = [&](std::optional<std::wstring> value) { return JudgeSignInStart(value, own, same, there); };
    CHECK(SignInStartCommand(own) == L"\"" + own + L"\" --quiet");
    CHECK(judge(std::nullopt) == SignInStart::Absent);
    CHECK(judge(L"") == SignInStart::Absent);
    CHECK(judge(SignInStartCommand(own)) == SignInStart::Ours);
    CHECK(judge(L"\"c:\\users\\zo\\appdata\\local\\programs\\nira ostrel\\ostrelwindows.exe\" --quiet") ==
          SignInStart::Ours);
    // This program started another way, or a program that is gone: mended.
    CHECK(judge(L"\"" + own + L"\"") == SignInStart::Stale);
    CHECK(judge(L"\"C:\\Old place\\OstrelWindows.exe\" --quiet") == SignInStart::Stale);
    CHECK(judge(L"garbage") == SignInStart::Stale);
    // Another copy that is there: its own.
    CHECK(judge(L"D:\\Portable\\OstrelWindows.exe --quiet") == SignInStart::Other);
    CHECK(SignInStartProgram(L"  \"C:\\A B\\x.exe\" --quiet") == L"C:\\A B\\x.exe");
    CHECK(SignInStartProgram(L"C:\\x.exe /y") == L"C:\\x.exe");
}
