// The options file: key order and values of a first close, the keys that travel through a
// close and the next show, cache sizes out of the track bar's range, damaged values, and the
// speed text and list selection rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/disc/disc_options.h"
#include "test_env.h"

namespace orv::backup {
namespace {

using burner::TDiscBurner;

// One window session: show (load + panel shown), the operator's changes, close (apply + write +
// the second write of speed and recorder). Returns whether the session-number box was due.
struct WindowSession {
  TDiscBurner& burner;
  DiscOptionValues& values;
  platform::ProfileFile& file;
  DiscPanelValues panel;

  void Show(const std::string& today) {
    LoadDiscOptions(file, burner, values);
    panel = ShownPanel(burner, values, panel);
    panel.eVolLabel = today;  // the show replaces the loaded label by today's date
  }
  bool Close() {
    const bool warn = ApplyPanel(panel, burner, values);
    WriteDiscOptions(file, panel, burner);
    WriteSpeedAndRecorder(file, panel);
    return warn;
  }
};

class OptionsTest : public ::testing::Test {
 protected:
  orv::test::TestEnv env_;
  TDiscBurner burner_;
  DiscOptionValues values_;
  platform::ProfileFile file_{OptionsFilePath()};

  void SetUp() override { ApplyDesignValues(burner_); }
  std::string Key(const std::string& k) { return file_.read_string(kOptionsSection, k, "<missing>"); }
};

TEST_F(OptionsTest, FirstCloseWithoutFileWritesEveryKeyInOrder) {
  ASSERT_FALSE(std::filesystem::exists(file_.path()));
  WindowSession s{burner_, values_, file_, {}};
  s.panel.cbSpeed = "Max";
  s.panel.cbDrives = "0:0:0,R: ORVAKELLVIRTUAL CD-RW   1.00";
  s.Show("09.12.2026");
  EXPECT_FALSE(s.Close());
  EXPECT_EQ(file_.path().filename(), "ORVAKELL.ini");
  const std::vector<std::string> order{"ArchiveFiles", "CloseTrack",   "CloseDisc",  "EjectDisc",     "JolietFS",
                                       "Bootable",     "TestWrite",    "QuickSaveISO", "ShowFiles",   "PerformOPC",
                                       "SessionNo",    "ImportSession", "BootImage",  "VolumeLable",   "CacheSize",
                                       "VerifyWrite",  "CDSpeed",      "CDCins"};
  EXPECT_EQ(file_.keys(kOptionsSection), order);
  const std::vector<std::pair<std::string, std::string>> expected{
      {"ArchiveFiles", "0"}, {"CloseTrack", "1"}, {"CloseDisc", "0"},    {"EjectDisc", "0"},  {"JolietFS", "1"},
      {"Bootable", "0"},     {"TestWrite", "0"},  {"QuickSaveISO", "0"}, {"ShowFiles", "0"},  {"PerformOPC", "1"},
      {"SessionNo", "0"},    {"ImportSession", "0"}, {"BootImage", ""},  {"VolumeLable", "09.12.2026"},
      {"CacheSize", "4194304"}, {"CDSpeed", "Max"}, {"CDCins", "0:0:0,R: ORVAKELLVIRTUAL CD-RW   1.00"},
      {"VerifyWrite", "1"}};
  for (const auto& [k, v] : expected) EXPECT_EQ(Key(k), v) << k;
}

TEST_F(OptionsTest, LoadReadsIntoBurnerAndValuesAndKeepsDefaultsOfMissingKeys) {
  file_.write_string(kOptionsSection, "CloseDisc", "1");
  file_.write_string(kOptionsSection, "JolietFS", "0");
  file_.write_string(kOptionsSection, "TestWrite", "7");  // any value but 0 is true
  file_.write_string(kOptionsSection, "VolumeLable", "01.12.2026");
  file_.write_string(kOptionsSection, "BootImage", "/boot/floppy.img");
  file_.write_string(kOptionsSection, "CDSpeed", "16x");
  file_.write_string(kOptionsSection, "CDCins", "drive");
  burner_.FinalizeTrack = false;
  LoadDiscOptions(file_, burner_, values_);
  EXPECT_TRUE(burner_.FinalizeTrack);
  EXPECT_TRUE(burner_.FinalizeDisc());
  EXPECT_FALSE(burner_.JolietFileSystem);
  EXPECT_TRUE(burner_.TestWrite());
  EXPECT_TRUE(burner_.PerformOPC);  // missing: design value kept
  EXPECT_EQ(burner_.IdVolume, "01.12.2026");
  EXPECT_EQ(burner_.BootImage, "/boot/floppy.img");
  EXPECT_EQ(burner_.CacheSize(), 4194304);
  EXPECT_EQ(values_.CDSpeed, "16x");
  EXPECT_EQ(values_.CDCins, "drive");
  EXPECT_FALSE(burner_.Bootable);  // "Bootable" is written but never loaded
  const DiscPanelValues shown = ShownPanel(burner_, values_, {});
  EXPECT_TRUE(shown.cCloseDisc);
  EXPECT_FALSE(shown.cJoliet);
  EXPECT_EQ(shown.Label2, "/boot/floppy.img");
  EXPECT_EQ(shown.eVolLabel, "01.12.2026");
}

TEST_F(OptionsTest, VerifyWriteIsOnByDefaultAndTravelsFileValuesPanelFile) {
  WindowSession first{burner_, values_, file_, {}};
  first.Show("01.12.2026");
  EXPECT_TRUE(values_.VerifyWrite);  // missing key: on
  EXPECT_TRUE(first.panel.cVerifyWrite);
  first.panel.cVerifyWrite = false;
  (void)first.Close();
  EXPECT_FALSE(values_.VerifyWrite);
  EXPECT_EQ(Key("VerifyWrite"), "0");

  DiscOptionValues fresh;
  WindowSession second{burner_, fresh, file_, {}};
  second.Show("02.12.2026");
  EXPECT_FALSE(fresh.VerifyWrite);
  EXPECT_FALSE(second.panel.cVerifyWrite);  // shown as saved
  file_.write_string(kOptionsSection, "VerifyWrite", "true");  // not a number: off, as every flag
  LoadDiscOptions(file_, burner_, fresh);
  EXPECT_FALSE(fresh.VerifyWrite);
  file_.write_string(kOptionsSection, "VerifyWrite", "1");
  LoadDiscOptions(file_, burner_, fresh);
  EXPECT_TRUE(fresh.VerifyWrite);
}

TEST_F(OptionsTest, EjectTicksTravelOneWindowSessionOnly) {
  WindowSession first{burner_, values_, file_, {}};
  first.Show("01.12.2026");
  first.panel.cEject = true;
  (void)first.Close();
  EXPECT_EQ(Key("EjectDisc"), "1");

  WindowSession second{burner_, values_, file_, {}};  // a new process shows an unticked box
  second.Show("02.12.2026");
  EXPECT_TRUE(values_.EjectDisc);       // every write of this session ejects
  EXPECT_FALSE(second.panel.cEject);    // but the box is not shown ticked
  (void)second.Close();
  EXPECT_EQ(Key("EjectDisc"), "0");
}

TEST_F(OptionsTest, ImportSessionTravelsIntoSessionToImportAndIsWrittenBackUnticked) {
  WindowSession first{burner_, values_, file_, {}};
  first.Show("01.12.2026");
  first.panel.cImportSession = true;
  first.panel.eSession = "2";
  EXPECT_FALSE(first.Close());
  EXPECT_EQ(values_.SessionImportNo, 2);
  EXPECT_EQ(Key("ImportSession"), "1");
  EXPECT_EQ(Key("SessionNo"), "2");

  TDiscBurner next;
  ApplyDesignValues(next);
  DiscOptionValues next_values;
  WindowSession second{next, next_values, file_, {}};
  second.Show("02.12.2026");
  EXPECT_EQ(next.SessionToImport, 2);
  EXPECT_EQ(next_values.SessionImportNo, 0);  // zero for the whole window session
  EXPECT_FALSE(second.panel.cImportSession);
  EXPECT_EQ(second.panel.eSession, "2");
  (void)second.Close();
  EXPECT_EQ(Key("ImportSession"), "0");
  EXPECT_EQ(Key("SessionNo"), "2");

  // Without the import flag the number is not loaded.
  TDiscBurner third;
  third.SessionToImport = 9;
  DiscOptionValues third_values;
  LoadDiscOptions(file_, third, third_values);
  EXPECT_EQ(third.SessionToImport, 0);
}

TEST_F(OptionsTest, SessionNumberThatIsNotANumber) {
  file_.write_string(kOptionsSection, "ImportSession", "1");
  file_.write_string(kOptionsSection, "SessionNo", "abc");
  burner_.SessionToImport = 3;
  LoadDiscOptions(file_, burner_, values_);
  EXPECT_EQ(burner_.SessionToImport, 3);  // read as the default

  DiscPanelValues panel = ShownPanel(burner_, values_, {});
  panel.cImportSession = true;
  panel.eSession = "abc";
  EXPECT_TRUE(ApplyPanel(panel, burner_, values_));  // the Session_Str box is due
  EXPECT_EQ(values_.SessionImportNo, 0);
  panel.eSession = "  ";
  EXPECT_FALSE(ApplyPanel(panel, burner_, values_));
  panel.eSession = "258";
  EXPECT_FALSE(ApplyPanel(panel, burner_, values_));
  EXPECT_EQ(values_.SessionImportNo, 2);  // its low byte
  panel.cImportSession = false;
  panel.eSession = "0";
  EXPECT_FALSE(ApplyPanel(panel, burner_, values_));
  EXPECT_EQ(values_.SessionImportNo, 0);
}

TEST_F(OptionsTest, CacheSizesOutsideTheTrackBar) {
  file_.write_string(kOptionsSection, "CacheSize", "1048576");
  WindowSession small{burner_, values_, file_, {}};
  small.Show("01.12.2026");
  EXPECT_EQ(burner_.CacheSize(), 2097152);  // raised to the minimum by the setter
  EXPECT_EQ(small.panel.sCacheSize, 2);
  (void)small.Close();
  EXPECT_EQ(Key("CacheSize"), "2097152");

  file_.write_string(kOptionsSection, "CacheSize", "104857600");
  WindowSession big{burner_, values_, file_, {}};
  big.Show("01.12.2026");
  EXPECT_EQ(burner_.CacheSize(), 104857600);  // the writes until the close use it
  EXPECT_EQ(big.panel.sCacheSize, 64);
  (void)big.Close();
  EXPECT_EQ(Key("CacheSize"), "67108864");

  file_.write_string(kOptionsSection, "CacheSize", "5000000");
  LoadDiscOptions(file_, burner_, values_);
  EXPECT_EQ(burner_.CacheSize(), 4999168);
}

TEST_F(OptionsTest, VolumeLabelLoadedIsWrittenOnDiscTheShownTextIsSaved) {
  file_.write_string(kOptionsSection, "VolumeLable", "OLDLABEL");
  WindowSession s{burner_, values_, file_, {}};
  s.Show("09.12.2026");
  EXPECT_EQ(burner_.IdVolume, "OLDLABEL");  // what discs of this session carry
  EXPECT_EQ(s.panel.eVolLabel, "09.12.2026");
  (void)s.Close();
  EXPECT_EQ(burner_.IdVolume, "09.12.2026");
  EXPECT_EQ(Key("VolumeLable"), "09.12.2026");
}

TEST(SpeedText, MaxAndNumbersBeforeTheX) {
  EXPECT_EQ(ParseSpeedText("Max"), 0);
  EXPECT_EQ(ParseSpeedText("16x"), 16);
  EXPECT_EQ(ParseSpeedText("4x"), 4);
  EXPECT_EQ(ParseSpeedText("48"), 48);
  EXPECT_EQ(ParseSpeedText("x"), 0);
  EXPECT_EQ(ParseSpeedText("fast"), 0);
  EXPECT_EQ(ParseSpeedText(""), 0);
}

TEST(SelectItem, UnknownTextSelectsTheFirst) {
  const std::vector<std::string> items{"Max", "40x", "16x"};
  EXPECT_EQ(SelectItem(items, "16x"), 2);
  EXPECT_EQ(SelectItem(items, "52x"), 0);
  EXPECT_EQ(SelectItem(items, ""), 0);
  EXPECT_EQ(SelectItem({}, "Max"), -1);
}

}  // namespace
}  // namespace orv::backup
