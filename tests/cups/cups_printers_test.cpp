#include "cups/cups_printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cups/cups_spooler.h"
#include "tests/support/process.h"
#include "tests/support/sandbox.h"
#include "tests/support/stop_flag.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

using Names = std::vector<std::string>;

std::string Lpoptions() {
    return FileExists(sandbox::Home().Lpoptions()) ? ReadFile(sandbox::Home().Lpoptions()) : "";
}

// The options `lpoptions -p destination` prints, word by word; the command
// runs with the private HOME (CUPS_SERVER and CUPS_SERVERROOT are in the
// environment already).
std::vector<std::string> LpoptionsOf(const std::string& destination) {
    const CommandResult result = RunCommand("HOME=" + ShellQuote(sandbox::Home().Path()) +
                                            " lpoptions -p " + ShellQuote(destination));
    EXPECT_EQ(result.ExitCode, 0) << "lpoptions -p " << destination;
    std::istringstream words(result.Output);
    std::vector<std::string> options;
    for (std::string word; words >> word;) options.push_back(word);
    return options;
}

bool Has(const std::vector<std::string>& words, const std::string& word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

bool HasOptionNamed(const std::vector<std::string>& words, const std::string& name) {
    return std::any_of(words.begin(), words.end(), [&name](const std::string& w) {
        return w == name || w.rfind(name + "=", 0) == 0;
    });
}

const PrinterChoice* Find(const std::vector<PrinterChoice>& choices, const std::string& option) {
    for (const PrinterChoice& c : choices) {
        if (c.Option == option) return &c;
    }
    return nullptr;
}

Names ValuesOf(const PrinterChoice& c) {
    Names values;
    for (const auto& [value, label] : c.Values) values.push_back(value);
    return values;
}

Names LabelsOf(const PrinterChoice& c) {
    Names labels;
    for (const auto& [value, label] : c.Values) labels.push_back(label);
    return labels;
}

Names OptionsOf(const std::vector<PrinterChoice>& choices) {
    Names options;
    for (const PrinterChoice& c : choices) options.push_back(c.Option);
    return options;
}

// What CupsSpooler makes of the destination now: Pw x Ph, or "none".
std::string GeometryOf(const std::string& destination) {
    const StopFlag never;
    const Result<std::unique_ptr<Printer>> opened = CupsSpooler().Open(destination, never);
    if (!opened.Ok()) return "none";
    const std::unique_ptr<Printer>& printer = opened.Value;
    return std::to_string(printer->Geometry().Pw) + "x" + std::to_string(printer->Geometry().Ph);
}

class CupsPrintersTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { sandbox::Home(); }

    void SetUp() override {
        ASSERT_FALSE(sandbox::Server().empty());
        sandbox::SetLpoptions("");
    }
    void TearDown() override { sandbox::SetLpoptions(""); }

    CupsPrinterCatalogue printers;
};

// --- PrinterNames ------------------------------------------------------------

TEST_F(CupsPrintersTest, EnumeratesTheQueuesInTheOrderOfLibcups) {
    // A class is a destination like a queue.
    const Names names = printers.PrinterNames();
    EXPECT_EQ(names, (Names{"tallowin-300", "tallowin-600", "tallowin-fail", "tallowin-filtered",
                            "tallowin-pool", "tallowin-raw", "tallowin-trays"}));

    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    ASSERT_NE(http, nullptr);
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http, &dests);
    Names libcups;
    for (int i = 0; i < count; ++i) libcups.push_back(dests[i].name);
    cupsFreeDests(count, dests);
    httpClose(http);
    EXPECT_EQ(names, libcups);
}

struct EnumerationCase {
    const char* Name;
    const char* Lpoptions;
    Names Expected;
};

TEST_F(CupsPrintersTest, ListsTheUsersInstancesAfterTheirQueue) {
    const EnumerationCase cases[] = {
        {"one_instance",
         "Dest tallowin-600/tall media=Tallowin85x13\n",
         {"tallowin-300", "tallowin-600", "tallowin-600/tall", "tallowin-fail", "tallowin-filtered",
          "tallowin-pool", "tallowin-raw", "tallowin-trays"}},
        {"two_instances",
         "Dest tallowin-300/b copies=3\nDest tallowin-300/a copies=2\n",
         {"tallowin-300", "tallowin-300/a", "tallowin-300/b", "tallowin-600", "tallowin-fail",
          "tallowin-filtered", "tallowin-pool", "tallowin-raw", "tallowin-trays"}},
        {"queue_options_add_nothing",
         "Dest tallowin-600 media=Letter\n",
         {"tallowin-300", "tallowin-600", "tallowin-fail", "tallowin-filtered", "tallowin-pool",
          "tallowin-raw", "tallowin-trays"}},
        {"unknown_queue_is_not_listed",
         "Dest nosuch copies=2\nDest nosuch/x copies=2\n",
         {"tallowin-300", "tallowin-600", "tallowin-fail", "tallowin-filtered", "tallowin-pool",
          "tallowin-raw", "tallowin-trays"}},
        {"default_does_not_reorder",
         "Default tallowin-raw\n",
         {"tallowin-300", "tallowin-600", "tallowin-fail", "tallowin-filtered", "tallowin-pool",
          "tallowin-raw", "tallowin-trays"}},
    };
    for (const EnumerationCase& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(c.Lpoptions);
        EXPECT_EQ(printers.PrinterNames(), c.Expected);
    }
}

TEST_F(CupsPrintersTest, SaysHowEachPrinterStands) {
    sandbox::SetQueueEnabled(sandbox::kQueue300, false);
    const std::map<std::string, PrinterCondition> conditions = printers.Conditions();
    sandbox::SetQueueEnabled(sandbox::kQueue300, true);
    ASSERT_EQ(conditions.count(sandbox::kQueue300), 1u);
    ASSERT_EQ(conditions.count(sandbox::kQueue600), 1u);
    EXPECT_EQ(NeedsAttention(conditions.at(sandbox::kQueue300)), "stopped (paused)");
    EXPECT_EQ(NeedsAttention(conditions.at(sandbox::kQueue600)), std::nullopt);
}

TEST_F(CupsPrintersTest, AnUnreachableSchedulerGivesNothing) {
    // libcups keeps its server per thread: point a fresh thread elsewhere.
    TempDir nowhere;
    Names names{"untouched"};
    std::vector<PrinterChoice> choices(1);
    bool stored = true;
    sandbox::SetLpoptions("Dest tallowin-600 copies=2\n");
    std::thread([&] {
        cupsSetServer((nowhere / "no-scheduler.sock").c_str());
        names = printers.PrinterNames();
        choices = printers.Choices("tallowin-600");
        stored = printers.StoreUserDefaults("tallowin-600", {{"media", "na_letter_8.5x11in"}});
    }).join();
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(choices.empty());
    EXPECT_FALSE(stored);
    EXPECT_EQ(Lpoptions(), "Dest tallowin-600 copies=2\n");
}

// --- Choices -----------------------------------------------------------------

TEST_F(CupsPrintersTest, OffersTheSettingsOfThe600DpiQueue) {
    const std::vector<PrinterChoice> choices = printers.Choices("tallowin-600");
    EXPECT_EQ(OptionsOf(choices), (Names{"media", "orientation-requested", "print-color-mode",
                                         "print-quality", "printer-resolution", "sides"}));

    const PrinterChoice* media = Find(choices, "media");
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(ValuesOf(*media), (Names{"na_letter_8.5x11in", "custom_8.5x11.5in_8.5x11.5in",
                                       "na_foolscap_8.5x13in"}));
    EXPECT_EQ(media->Current, "custom_8.5x11.5in_8.5x11.5in");

    const PrinterChoice* resolution = Find(choices, "printer-resolution");
    ASSERT_NE(resolution, nullptr);
    EXPECT_EQ(ValuesOf(*resolution), Names{"600dpi"});
    EXPECT_EQ(LabelsOf(*resolution), Names{"600 dpi"});
    EXPECT_EQ(resolution->Current, "600dpi");

    const PrinterChoice* orientation = Find(choices, "orientation-requested");
    ASSERT_NE(orientation, nullptr);
    EXPECT_EQ(ValuesOf(*orientation), (Names{"3", "4", "5", "6"}));
    EXPECT_EQ(LabelsOf(*orientation),
              (Names{"Portrait", "Landscape", "Reverse landscape", "Reverse portrait"}));
    EXPECT_EQ(orientation->Current, "3");  // the queue has no default: upright, as printed

    const PrinterChoice* color = Find(choices, "print-color-mode");
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(ValuesOf(*color), (Names{"monochrome", "color"}));
    EXPECT_EQ(LabelsOf(*color), (Names{"Grayscale", "Color"}));
    EXPECT_EQ(color->Current, "color");

    const PrinterChoice* quality = Find(choices, "print-quality");
    ASSERT_NE(quality, nullptr);
    EXPECT_EQ(ValuesOf(*quality), Names{"4"});
    EXPECT_EQ(LabelsOf(*quality), Names{"Normal"});

    const PrinterChoice* sides = Find(choices, "sides");
    ASSERT_NE(sides, nullptr);
    EXPECT_EQ(ValuesOf(*sides), Names{"one-sided"});
    EXPECT_EQ(sides->Current, "one-sided");

    for (const PrinterChoice& c : choices) {
        SCOPED_TRACE(c.Option);
        EXPECT_FALSE(c.Label.empty());
        const Names labels = LabelsOf(c);
        EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()).size(), labels.size())
            << "labels are not distinct";
        EXPECT_TRUE(std::none_of(labels.begin(), labels.end(),
                                 [](const std::string& l) { return l.empty(); }));
    }
}

TEST_F(CupsPrintersTest, OffersTheTraysAndSidesOfTheTraysQueue) {
    const std::vector<PrinterChoice> choices = printers.Choices("tallowin-trays");
    const PrinterChoice* source = Find(choices, "media-source");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(ValuesOf(*source), (Names{"top", "bottom"}));
    EXPECT_EQ(source->Current, "top");
    const PrinterChoice* sides = Find(choices, "sides");
    ASSERT_NE(sides, nullptr);
    EXPECT_EQ(ValuesOf(*sides),
              (Names{"one-sided", "two-sided-long-edge", "two-sided-short-edge"}));
}

TEST_F(CupsPrintersTest, OffersTheSettingsOfThe300DpiQueue) {
    const std::vector<PrinterChoice> choices = printers.Choices("tallowin-300");
    const PrinterChoice* media = Find(choices, "media");
    ASSERT_NE(media, nullptr);
    const Names values = ValuesOf(*media);
    EXPECT_EQ(std::set<std::string>(values.begin(), values.end()),
              (std::set<std::string>{"na_letter_8.5x11in", "iso_a4_210x297mm"}));
    EXPECT_EQ(media->Current, "na_letter_8.5x11in");
    const PrinterChoice* resolution = Find(choices, "printer-resolution");
    ASSERT_NE(resolution, nullptr);
    EXPECT_EQ(ValuesOf(*resolution), Names{"300dpi"});
    const PrinterChoice* color = Find(choices, "print-color-mode");
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(ValuesOf(*color), Names{"monochrome"});
}

TEST_F(CupsPrintersTest, ARawQueueOffersOnlyWhatItSupports) {
    // No driver: the scheduler names no media, resolution, colour modes...
    EXPECT_EQ(OptionsOf(printers.Choices("tallowin-raw")), Names{"orientation-requested"});
}

// Each offered value is one CupsSpooler can print with.
TEST_F(CupsPrintersTest, EveryOfferedSizeAndResolutionOpens) {
    for (const char* queue : {"tallowin-600", "tallowin-300"}) {
        for (const PrinterChoice& c : printers.Choices(queue)) {
            if (c.Option != "media" && c.Option != "printer-resolution") continue;
            for (const auto& [value, label] : c.Values) {
                SCOPED_TRACE(std::string(queue) + " " + c.Option + "=" + value);
                sandbox::SetLpoptions(std::string("Dest ") + queue + " " + c.Option + "=" + value +
                                      "\n");
                EXPECT_NE(GeometryOf(queue), "none");
            }
        }
    }
}

struct CurrentCase {
    const char* Name;
    const char* Printer;
    const char* Lpoptions;
    const char* Option;
    const char* Current;
    std::size_t ValueCount;  // a value that matches none of the printer's is added
};

TEST_F(CupsPrintersTest, TheCurrentValueIsTheUsersElseThePrintersDefault) {
    const CurrentCase cases[] = {
        {"media_ppd_name", "tallowin-600", "Dest tallowin-600 media=Letter\n", "media",
         "na_letter_8.5x11in", 3},
        {"media_pwg_name", "tallowin-600", "Dest tallowin-600 media=na_foolscap_8.5x13in\n",
         "media", "na_foolscap_8.5x13in", 3},
        {"media_legacy_name", "tallowin-600", "Dest tallowin-600 media=na-letter\n", "media",
         "na_letter_8.5x11in", 3},
        {"pagesize_option", "tallowin-600", "Dest tallowin-600 PageSize=Letter\n", "media",
         "na_letter_8.5x11in", 3},
        {"media_before_pagesize", "tallowin-600",
         "Dest tallowin-600 media=na_foolscap_8.5x13in PageSize=Letter\n", "media",
         "na_foolscap_8.5x13in", 3},
        {"media_list_first_size_counts", "tallowin-600",
         "Dest tallowin-600 media=Glossy,Letter,na_foolscap_8.5x13in\n", "media",
         "na_letter_8.5x11in", 3},
        // The sheet the spooler prints on: a media option that names no
        // size gives way to PageSize.
        {"media_without_a_size_gives_way_to_pagesize", "tallowin-600",
         "Dest tallowin-600 media=Glossy PageSize=Letter\n", "media", "na_letter_8.5x11in", 3},
        {"media_type_only_is_kept", "tallowin-600", "Dest tallowin-600 media=Glossy\n", "media",
         "Glossy", 4},
        {"size_the_printer_lacks_is_kept", "tallowin-600", "Dest tallowin-600 media=A4,Glossy\n",
         "media", "A4,Glossy", 4},
        {"size_of_the_queue_ppd_only_is_kept", "tallowin-600",
         "Dest tallowin-600 media=Tallowin85x13\n", "media", "Tallowin85x13", 4},
        {"media_of_another_queue", "tallowin-600", "Dest tallowin-300 media=A4\n", "media",
         "custom_8.5x11.5in_8.5x11.5in", 3},
        {"media_of_an_instance", "tallowin-600/tall", "Dest tallowin-600/tall media=Letter\n",
         "media", "na_letter_8.5x11in", 3},
        {"queue_ignores_its_instance", "tallowin-600", "Dest tallowin-600/tall media=Letter\n",
         "media", "custom_8.5x11.5in_8.5x11.5in", 3},
        {"orientation_number", "tallowin-600", "Dest tallowin-600 orientation-requested=5\n",
         "orientation-requested", "5", 4},
        {"orientation_keyword", "tallowin-600",
         "Dest tallowin-600 orientation-requested=landscape\n", "orientation-requested", "4", 4},
        {"landscape_option", "tallowin-600", "Dest tallowin-600 landscape\n",
         "orientation-requested", "4", 4},
        {"landscape_false", "tallowin-600", "Dest tallowin-600 landscape=false\n",
         "orientation-requested", "3", 4},
        {"orientation_before_landscape", "tallowin-600",
         "Dest tallowin-600 orientation-requested=3 landscape\n", "orientation-requested", "3", 4},
        {"resolution_across_by_down", "tallowin-600",
         "Dest tallowin-600 printer-resolution=600x600dpi\n", "printer-resolution", "600dpi", 1},
        {"resolution_ppd_style", "tallowin-600", "Dest tallowin-600 Resolution=600dpi\n",
         "printer-resolution", "600dpi", 1},
        {"resolution_unreadable_gives_way_to_the_older_spelling", "tallowin-600",
         "Dest tallowin-600 printer-resolution=fine Resolution=600dpi\n", "printer-resolution",
         "600dpi", 1},
        {"resolution_not_supported_is_kept", "tallowin-600",
         "Dest tallowin-600 printer-resolution=300dpi\n", "printer-resolution", "300dpi", 2},
        {"color_mode", "tallowin-600", "Dest tallowin-600 print-color-mode=monochrome\n",
         "print-color-mode", "monochrome", 2},
        {"quality_keyword", "tallowin-600", "Dest tallowin-600 print-quality=normal\n",
         "print-quality", "4", 1},
    };
    for (const CurrentCase& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(c.Lpoptions);
        const std::vector<PrinterChoice> choices = printers.Choices(c.Printer);
        const PrinterChoice* choice = Find(choices, c.Option);
        ASSERT_NE(choice, nullptr);
        EXPECT_EQ(choice->Current, c.Current);
        EXPECT_EQ(choice->Values.size(), c.ValueCount);
        const Names values = ValuesOf(*choice);
        EXPECT_TRUE(Has(values, choice->Current));
    }
}

TEST_F(CupsPrintersTest, NamesThatAreNoPrinterGiveNoChoices) {
    for (const char* name : {"", "nosuch", "/tall", "tallowin-600/", "nosuch/tall"}) {
        SCOPED_TRACE(std::string("name '") + name + "'");
        EXPECT_TRUE(printers.Choices(name).empty());
    }
}

// --- StoreUserDefaults --------------------------------------------------------

TEST_F(CupsPrintersTest, StoresAsLpoptionsDoesAndKeepsEverythingElse) {
    sandbox::SetLpoptions(
        "Dest tallowin-300 media=A4\n"
        "Dest tallowin-600 number-up=2\n"
        "Dest tallowin-600/tall media=Tallowin85x13\n");
    ASSERT_EQ(GeometryOf("tallowin-600"), "4800x6600");

    ASSERT_TRUE(printers.StoreUserDefaults("tallowin-600", {{"media", "Letter"}}));

    const std::vector<std::string> queue = LpoptionsOf("tallowin-600");
    EXPECT_TRUE(Has(queue, "media=Letter"));
    EXPECT_TRUE(Has(queue, "number-up=2"));
    EXPECT_EQ(GeometryOf("tallowin-600"), "4800x6300");  // Letter is shorter than 8.5 x 11.5 in

    EXPECT_TRUE(Has(LpoptionsOf("tallowin-300"), "media=A4"));
    EXPECT_EQ(GeometryOf("tallowin-300"), "2329x3358");
    EXPECT_TRUE(Has(LpoptionsOf("tallowin-600/tall"), "media=Tallowin85x13"));
    EXPECT_EQ(GeometryOf("tallowin-600/tall"), "4800x7500");

    const std::vector<PrinterChoice> choices = printers.Choices("tallowin-600");
    const PrinterChoice* media = Find(choices, "media");
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(media->Current, "na_letter_8.5x11in");
}

TEST_F(CupsPrintersTest, StoresSeveralOptionsAndDropsTheirOlderSpellings) {
    sandbox::SetLpoptions("Dest tallowin-600 PageSize=Tallowin85x13 landscape copies=2\n");
    ASSERT_EQ(GeometryOf("tallowin-600"), "7500x4800");

    ASSERT_TRUE(printers.StoreUserDefaults(
        "tallowin-600", {{"media", "na_letter_8.5x11in"}, {"orientation-requested", "3"}}));

    const std::vector<std::string> options = LpoptionsOf("tallowin-600");
    EXPECT_TRUE(Has(options, "media=na_letter_8.5x11in"));
    EXPECT_TRUE(Has(options, "orientation-requested=3"));
    EXPECT_TRUE(Has(options, "copies=2"));
    EXPECT_FALSE(HasOptionNamed(options, "PageSize"));
    EXPECT_FALSE(HasOptionNamed(options, "landscape"));
    EXPECT_EQ(GeometryOf("tallowin-600"), "4800x6300");
}

TEST_F(CupsPrintersTest, TheResolutionReplacesTheOlderSpelling) {
    sandbox::SetLpoptions("Dest tallowin-600 Resolution=300dpi\n");
    ASSERT_EQ(GeometryOf("tallowin-600"), "2400x3300");
    ASSERT_TRUE(printers.StoreUserDefaults("tallowin-600", {{"printer-resolution", "600dpi"}}));
    EXPECT_FALSE(HasOptionNamed(LpoptionsOf("tallowin-600"), "Resolution"));
    EXPECT_EQ(GeometryOf("tallowin-600"), "4800x6600");
}

TEST_F(CupsPrintersTest, TheSchedulersOwnDefaultFallsBackToIt) {
    sandbox::SetLpoptions("Dest tallowin-600 print-color-mode=monochrome\n");
    ASSERT_TRUE(printers.StoreUserDefaults("tallowin-600", {{"print-color-mode", "color"}}));
    EXPECT_EQ(Lpoptions().find("print-color-mode"), std::string::npos) << Lpoptions();
    const std::vector<PrinterChoice> choices = printers.Choices("tallowin-600");
    const PrinterChoice* color = Find(choices, "print-color-mode");
    ASSERT_NE(color, nullptr);
    EXPECT_EQ(color->Current, "color");
}

struct StoredCase {
    const char* Option;
    const char* Value;
};

// The defaults dialog stores a changed value and shows it as the one in
// force the next time: storing and reading back agree, one queue only.
TEST_F(CupsPrintersTest, AStoredChoiceIsCurrentAfterwards) {
    const StoredCase cases[] = {
        {"media", "na_foolscap_8.5x13in"},
        {"orientation-requested", "4"},
        {"print-color-mode", "monochrome"},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.Option);
        sandbox::SetLpoptions("");
        ASSERT_TRUE(printers.StoreUserDefaults("tallowin-600", {{c.Option, c.Value}}));
        const std::vector<PrinterChoice> choices = printers.Choices("tallowin-600");
        const PrinterChoice* choice = Find(choices, c.Option);
        ASSERT_NE(choice, nullptr);
        EXPECT_EQ(choice->Current, c.Value);
        EXPECT_EQ(Lpoptions().find("tallowin-300"), std::string::npos) << Lpoptions();
    }
}

TEST_F(CupsPrintersTest, StoringOnANewInstanceCreatesIt) {
    sandbox::SetLpoptions("Dest tallowin-600 number-up=2\n");
    ASSERT_TRUE(
        printers.StoreUserDefaults("tallowin-600/tall", {{"media", "na_foolscap_8.5x13in"}}));

    EXPECT_EQ(printers.PrinterNames(),
              (Names{"tallowin-300", "tallowin-600", "tallowin-600/tall", "tallowin-fail",
                     "tallowin-filtered", "tallowin-pool", "tallowin-raw", "tallowin-trays"}));
    const std::vector<std::string> instance = LpoptionsOf("tallowin-600/tall");
    EXPECT_TRUE(Has(instance, "media=na_foolscap_8.5x13in"));
    EXPECT_TRUE(Has(instance, "number-up=2"));  // copied from its queue, as lpoptions does
    EXPECT_EQ(GeometryOf("tallowin-600/tall"), "4800x7500");
    EXPECT_EQ(GeometryOf("tallowin-600"), "4800x6600");
    EXPECT_FALSE(HasOptionNamed(LpoptionsOf("tallowin-600"), "media"));
}

struct RefusedCase {
    const char* Name;
    const char* Printer;
    std::vector<std::pair<std::string, std::string>> Options;
};

TEST_F(CupsPrintersTest, RefusesWhatLpoptionsWouldRefuseAndWritesNothing) {
    const RefusedCase cases[] = {
        {"empty_name", "", {{"media", "na_letter_8.5x11in"}}},
        {"unknown_queue", "nosuch", {{"media", "na_letter_8.5x11in"}}},
        {"instance_of_unknown_queue", "nosuch/tall", {{"media", "na_letter_8.5x11in"}}},
        {"instance_without_queue", "/tall", {{"media", "na_letter_8.5x11in"}}},
        {"queue_without_instance", "tallowin-600/", {{"media", "na_letter_8.5x11in"}}},
        {"empty_option_name", "tallowin-600", {{"media", "na_letter_8.5x11in"}, {"", "x"}}},
        {"space_in_option_name", "tallowin-600", {{"media type", "x"}}},
        {"equals_in_option_name", "tallowin-600", {{"media=x", "y"}}},
        {"quote_in_option_name", "tallowin-600", {{"media'", "y"}}},
        {"newline_in_value", "tallowin-600", {{"media", "na_letter_8.5x11in\nDest tallowin-300"}}},
        {"carriage_return_in_value", "tallowin-600", {{"media", "Letter\r"}}},
    };
    const std::string before = "Dest tallowin-300 media=A4\n";
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(before);
        EXPECT_FALSE(printers.StoreUserDefaults(c.Printer, c.Options));
        EXPECT_EQ(Lpoptions(), before);
    }
}

TEST_F(CupsPrintersTest, AValueWithSpacesIsStoredWhole) {
    ASSERT_TRUE(
        printers.StoreUserDefaults("tallowin-600", {{"page-label", "two words, 'quoted'"}}));
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    ASSERT_NE(http, nullptr);
    cups_dest_t* dest = cupsGetNamedDest(http, "tallowin-600", nullptr);
    ASSERT_NE(dest, nullptr);
    EXPECT_STREQ(cupsGetOption("page-label", dest->num_options, dest->options),
                 "two words, 'quoted'");
    cupsFreeDests(1, dest);
    httpClose(http);
}

TEST_F(CupsPrintersTest, FailsWhenLpoptionsCannotBeWritten) {
    // A folder where the file should be: no one, root included, can write it.
    ASSERT_EQ(mkdir(sandbox::Home().Lpoptions().c_str(), 0700), 0);
    const bool stored =
        printers.StoreUserDefaults("tallowin-600", {{"media", "na_letter_8.5x11in"}});
    rmdir(sandbox::Home().Lpoptions().c_str());
    EXPECT_FALSE(stored);
}

}  // namespace
