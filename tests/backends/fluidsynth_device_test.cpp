#include "platform/backends/fluidsynth_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "synth_test_options.h"

namespace platform {
namespace {

using testing_support::FileOptions;
using testing_support::TempWav;

TEST(FluidSynthDevice, CapsDescribeASoftwareSynthWithVolume) {
  FluidSynthOptions options = FileOptions(TempWav("caps"));
  options.soundfont = "/nonexistent/none.sf2";
  auto device = CreateFluidSynthDevice(options);
  const MidiOutCaps caps = device->Caps();
  EXPECT_FALSE(caps.name.empty());
  EXPECT_EQ(caps.technology, kModSoftwareSynth);
  EXPECT_GT(caps.voices, 0);
  EXPECT_EQ(caps.notes, caps.voices);
  EXPECT_EQ(caps.support, kMidiCapsVolume | kMidiCapsLrVolume);
  EXPECT_NEAR(caps.latencyMs, 1000.0 * 64 * 2 / 44100, 0.01) << "period x periods at the sample rate";
}

TEST(FluidSynthDevice, OpenFailsQuietlyWithoutASoundfont) {
  FluidSynthOptions options = FileOptions(TempWav("nosf"));
  options.soundfont = "/nonexistent/none.sf2";
  auto device = CreateFluidSynthDevice(options);
  WaitUntilSettled(*device);
  EXPECT_FALSE(device->Open());
  EXPECT_NE(device->Failure().find("/nonexistent/none.sf2"), std::string::npos)
      << "the failure names the soundfont: " << device->Failure();
  EXPECT_FALSE(device->Open()) << "a second open fails the same way";
  device->ShortMsg(0x00643C90);  // nothing to do, and no crash
  device->Close();
}

TEST(FluidSynthDevice, OpenFailsQuietlyWithoutAnAudioDriver) {
  if (FindGmSoundfont().empty()) {
    GTEST_SKIP() << "no General MIDI soundfont in /usr/share/sounds/sf2/";
  }
  FluidSynthOptions options;
  options.audioDrivers = {"no-such-driver"};
  auto device = CreateFluidSynthDevice(options);
  WaitUntilSettled(*device);
  EXPECT_FALSE(device->Open());
  EXPECT_NE(device->Failure().find("audio"), std::string::npos) << device->Failure();
}

// Sets an environment variable for the scope of a test, restoring the old value.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A temporary data folder with the layouts of several distributions: Debian's sf3 package, the
// soundfonts/ folder of Fedora and Arch, a user's own folder.
TEST(FluidSynthDevice, SoundfontsAreFoundInEveryDataFolderLayout) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(testing::TempDir()) / ("tonvik_xdg_" + std::to_string(getpid()));
  fs::remove_all(root);
  const fs::path home = root / "home", system = root / "system", other = root / "other";
  ScopedEnv dataHome("XDG_DATA_HOME", home.string());
  ScopedEnv dataDirs("XDG_DATA_DIRS", system.string() + ":" + other.string() + "/");
  auto touch = [](const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
  };

  const std::vector<std::string> candidates = SoundfontCandidates("/etc/configured.sf2");
  ASSERT_FALSE(candidates.empty());
  EXPECT_EQ(candidates.front(), "/etc/configured.sf2") << "FluidSynth's own setting comes first";
  EXPECT_EQ(candidates.at(1), (home / "soundfonts/default-GM.sf2").string());
  EXPECT_EQ(candidates.at(2), (home / "soundfonts/default-GM.sf3").string());
  EXPECT_TRUE(SoundfontCandidates("").front().starts_with(home.string()));

  struct Case {
    fs::path file;
    const char* layout;
  };
  // Each file added is found ahead of the ones added before it.
  const Case cases[] = {
      {other / "sounds/sf3/default-GM.sf3", "Debian with only sf3-soundfont-gm"},
      {system / "sounds/sf2/TimGM6mb.sf2", "an earlier data folder"},
      {system / "soundfonts/FluidR3_GM.sf2", "Fedora and Arch"},
      {home / "sounds/sf3/default-GM.sf3", "the user's own data folder"},
  };
  for (const Case& c : cases) {
    touch(c.file);
    const std::vector<std::string> found = SoundfontCandidates("");
    const auto first = std::find_if(found.begin(), found.end(), [](const std::string& path) {
      std::error_code error;
      return fs::is_regular_file(path, error);
    });
    ASSERT_NE(first, found.end()) << c.layout;
    EXPECT_EQ(*first, c.file.string()) << c.layout;
  }
  fs::remove_all(root);
}

// The real soundfont, reached only through a data folder's sf3 path: the synth loads it and sounds.
TEST(FluidSynthDevice, LoadsTheSoundfontOfADataFolder) {
  namespace fs = std::filesystem;
  const fs::path real = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!fs::is_regular_file(real)) {
    GTEST_SKIP() << "no TimGM6mb.sf2 (Debian package timgm6mb-soundfont)";
  }
  const fs::path root = fs::path(testing::TempDir()) / ("tonvik_xdg_sf3_" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "sounds/sf3");
  fs::create_symlink(real, root / "sounds/sf3/default-GM.sf3");
  ScopedEnv dataHome("XDG_DATA_HOME", (root / "nothing").string());
  ScopedEnv dataDirs("XDG_DATA_DIRS", root.string());
  const std::vector<std::string> found = SoundfontCandidates("");
  EXPECT_EQ(std::count_if(found.begin(), found.end(),
                          [&](const std::string& path) {
                            return path == (root / "sounds/sf3/default-GM.sf3").string();
                          }),
            1);

  FluidSynthOptions options = FileOptions(TempWav("xdg"));
  options.soundfont = (root / "sounds/sf3/default-GM.sf3").string();
  auto device = CreateFluidSynthDevice(options);
  WaitUntilSettled(*device);
  EXPECT_TRUE(device->Open()) << device->Failure();
  EXPECT_EQ(device->Failure(), "");
  device->Close();
  device.reset();
  std::remove(options.wavFile.c_str());
  fs::remove_all(root);
}

TEST(FluidSynthDevice, AudioPeriodComesFromTheEnvironmentWithinItsRange) {
  const std::pair<const char*, int> cases[] = {
      {"", kDefaultAudioPeriod},
      {"512", 512},
      {"64", 64},
      {"8192", 8192},
      {"63", kDefaultAudioPeriod},
      {"9000", kDefaultAudioPeriod},
      {"128x", kDefaultAudioPeriod},
      {"-256", kDefaultAudioPeriod},
  };
  EXPECT_GE(kDefaultAudioPeriod, 256);
  for (const auto& [text, period] : cases) {
    ScopedEnv env("TONVIK_AUDIO_PERIOD", text);
    EXPECT_EQ(AudioPeriodFromEnvironment(), period) << "\"" << text << "\"";
  }
}

}  // namespace
}  // namespace platform
