// Our IMAPI2 burner (ImapiRecorderService, reached through DiscBurner as the window and the command
// line tool reach it) against doubles that answer IDispatch through a type library of IMAPI2's
// interfaces, as Windows does: the invoke kind, argument count and types of every late-bound call
// must be the ones IMAPI declares.
#include "ImapiDoubles.h"
#include "TestImages.h"
#include "burn/BurnCommand.h"
#include "burn/DiscBurner.h"
#include "burn/ImapiRecorderService.h"
#include "base/WideText.h"
#include "com/DispatchObject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <vector>

using namespace umbra;

constexpr BurnResult kNotSet = static_cast<BurnResult>(-1);  // no result written yet

namespace fs = std::filesystem;
using com::DispatchObject;
using com::Variant;

namespace {

// A raw IDispatch call with the given invoke kind, as the caller of a type library would make it.
HRESULT invokeAs(const DispatchObject& object, const wchar_t* name, WORD kind, std::vector<Variant> args,
                 Variant* out = nullptr) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID member = 0;
  HRESULT result = object.get()->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(result)) return result;
  std::vector<VARIANT> reversed;
  for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->value());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  Variant ignored;
  EXCEPINFO exception{};
  result = object.get()->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, out ? out->get() : ignored.get(),
                                &exception, nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return result;
}

class ImapiBurn : public testing::Test {
 protected:
  void SetUp() override {
    imapi_double::reset();
    if (!imapi_double::install()) GTEST_SKIP() << "the doubles' type library cannot be loaded";
    imapi_double::world().drives = {{L"\\\\?\\scsi#cdrom#a", {L"E:\\"}, L"CD-RW A"}};
    m_image = m_tmp / "disc.iso";
    std::string bytes;
    for (int i = 0; i < 100 * 2048; ++i) bytes += static_cast<char>(i * 13 + i / 2048);
    umbra::test::writeFile(m_image, bytes);
    _putenv_s("UMBRADISC_STAGING_DIR", (m_tmp / "staging").string().c_str());
    _putenv_s("UMBRADISC_BURN_DRIVE", "");
  }
  void TearDown() override {
    imapi_double::uninstall();
    _putenv_s("UMBRADISC_STAGING_DIR", "");
  }
  bool write(const fs::path& image, std::vector<int>* percents, std::function<bool()> cancel, std::string& reason) {
    ImapiRecorderService service;
    WriteCheck check;
    return service.writeImage(
        umbra::utf8FromWide(imapi_double::world().drives[0].id), image, check,
        [percents](int p) {
          if (percents) percents->push_back(p);
        },
        std::move(cancel), reason);
  }

  // Burns image into drive E: with the command line tool, which must say it succeeded and leave
  // the image's bytes on the disc; returns what it printed.
  std::string burnByCommandLine(const fs::path& image) {
    std::ostringstream out, err;
    EXPECT_EQ(runBurnCommand(umbra::utf8FromWide(image.wstring()), "E:", out, err), 0) << err.str();
    EXPECT_NE(out.str().find("Burn succeeded!\n"), std::string::npos) << out.str();
    EXPECT_EQ(imapi_double::world().written, umbra::test::readBytes(image));
    return out.str();
  }

 public:
  umbra::test::TempDir m_tmp;
  fs::path m_image;
};

// Every member our code calls, with the invoke kind it uses: the doubles take it, and refuse a
// property set by reference, which is how the type libraries answer it on Windows.
TEST_F(ImapiBurn, TheDoublesAnswerOnlyTheDeclaredInvokeKinds) {
  HRESULT made = S_OK;
  const DispatchObject recorder = DispatchObject::create(L"IMAPI2.MsftDiscRecorder2", &made);
  ASSERT_TRUE(recorder) << com::describeResult(made);
  ASSERT_EQ(recorder.call(L"InitializeDiscRecorder", {Variant(std::wstring(L"\\\\?\\scsi#cdrom#a"))}), S_OK);
  const DispatchObject options = DispatchObject::create(L"IMAPI2FS.BootOptions", &made);
  ASSERT_TRUE(options);
  struct Case {
    const wchar_t* progId;
    const wchar_t* member;
    WORD kind;
    std::vector<Variant> args;
    HRESULT expected;
  };
  constexpr WORD get = DISPATCH_PROPERTYGET | DISPATCH_METHOD, put = DISPATCH_PROPERTYPUT,
                 putRef = DISPATCH_PROPERTYPUTREF, method = DISPATCH_METHOD;
  const Variant recorderValue(static_cast<IUnknown*>(recorder.get()));
  const Variant optionsValue(static_cast<IUnknown*>(options.get()));
  const std::vector<Case> cases = {
      {L"IMAPI2.MsftDiscMaster2", L"IsSupportedEnvironment", get, {}, S_OK},
      {L"IMAPI2.MsftDiscMaster2", L"Count", get, {}, S_OK},
      {L"IMAPI2.MsftDiscMaster2", L"Item", get, {Variant(0L)}, S_OK},
      {L"IMAPI2.MsftDiscMaster2", L"Item", get, {}, DISP_E_BADPARAMCOUNT},
      {L"IMAPI2.MsftDiscRecorder2",
       L"InitializeDiscRecorder",
       method,
       {Variant(std::wstring(L"\\\\?\\scsi#cdrom#a"))},
       S_OK},
      {L"IMAPI2.MsftDiscFormat2Data", L"Recorder", put, {recorderValue}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Data", L"Recorder", putRef, {recorderValue}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Data", L"ClientName", put, {Variant(std::wstring(L"Umbradisc"))}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Data", L"ForceMediaToBeClosed", put, {Variant(true)}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Data", L"ForceMediaToBeClosed", method, {Variant(true)}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Data", L"IsCurrentMediaSupported", method, {recorderValue}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Data", L"Write", put, {Variant(1L)}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Data", L"IsCurrentMediaSupported", method, {}, DISP_E_BADPARAMCOUNT},
      {L"IMAPI2.MsftDiscFormat2Erase", L"Recorder", put, {recorderValue}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Erase", L"Recorder", putRef, {recorderValue}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Erase", L"ClientName", put, {Variant(std::wstring(L"Umbradisc"))}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Erase", L"FullErase", put, {Variant(false)}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Erase", L"FullErase", method, {Variant(false)}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Erase", L"IsCurrentMediaSupported", method, {recorderValue}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Erase", L"CurrentPhysicalMediaType", get, {}, S_OK},
      {L"IMAPI2.MsftDiscFormat2Erase", L"CurrentPhysicalMediaType", put, {Variant(3L)}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2.MsftDiscFormat2Erase", L"EraseMedia", put, {Variant(1L)}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2FS.MsftFileSystemImage", L"FileSystemsToCreate", put, {Variant(3L)}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage", L"ISO9660InterchangeLevel", put, {Variant(2L)}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage", L"FreeMediaBlocks", put, {Variant(0L)}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage", L"VolumeName", put, {Variant(std::wstring(L"My_Disc"))}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage", L"BootImageOptions", putRef, {optionsValue}, DISP_E_MEMBERNOTFOUND},
      {L"IMAPI2FS.MsftFileSystemImage", L"Root", get, {}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage", L"CreateResultImage", method, {}, S_OK},
      {L"IMAPI2FS.MsftFileSystemImage",
       L"FileSystemsToCreate",
       put,
       {Variant(std::wstring(L"many"))},
       DISP_E_TYPEMISMATCH},
      {L"IMAPI2FS.BootOptions", L"Emulation", put, {Variant(0L)}, S_OK},
      {L"IMAPI2FS.BootOptions", L"PlatformId", put, {Variant(0L)}, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(umbra::utf8FromWide(std::wstring(c.progId) + L"." + c.member) + " kind " + std::to_string(c.kind));
    const DispatchObject object = DispatchObject::create(c.progId, &made);
    ASSERT_TRUE(object);
    const std::wstring progId(c.progId);
    if ((progId == L"IMAPI2.MsftDiscFormat2Data" || progId == L"IMAPI2.MsftDiscFormat2Erase") &&
        std::wstring(c.member) != L"Recorder") {
      ASSERT_EQ(object.putProperty(L"Recorder", recorderValue), S_OK);
    }
    EXPECT_EQ(invokeAs(object, c.member, c.kind, c.args), c.expected);
  }
}

TEST_F(ImapiBurn, WritesTheImageClosesTheMediumAndReportsProgressFromTheEvents) {
  std::vector<int> percents;
  std::string reason;
  ASSERT_TRUE(write(m_image, &percents, {}, reason)) << reason;
  const imapi_double::World& world = imapi_double::world();
  EXPECT_EQ(world.written, umbra::test::readBytes(m_image));
  EXPECT_EQ(world.writtenBy, L"\\\\?\\scsi#cdrom#a");
  EXPECT_TRUE(world.forceMediaToBeClosed);
  EXPECT_EQ(world.clientName, L"Umbradisc");
  EXPECT_GT(world.updates, 3);
  // 100 sectors in updates of 16: the percents in between come from the events' sector counts.
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_NE(std::find(percents.begin(), percents.end(), 16), percents.end());
  EXPECT_NE(std::find(percents.begin(), percents.end(), 48), percents.end());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(world.cancelCalls, 0);
}

// Cancel is asked from the event handler, once; the verdict is Write's: cancelled when IMAPI says
// so, a finished disc when Write completed all the same.
TEST_F(ImapiBurn, CancelIsCalledFromTheHandlerAndWritesResultDecides) {
  for (const bool tooLate : {false, true}) {
    SCOPED_TRACE(tooLate ? "Write completes" : "Write cancelled");
    SetUp();
    imapi_double::world().finishDespiteCancel = tooLate;
    std::vector<int> percents;
    std::string reason;
    const bool written = write(
        m_image, &percents, [&percents] { return !percents.empty() && percents.back() >= 30; }, reason);
    const imapi_double::World& world = imapi_double::world();
    EXPECT_EQ(world.cancelCalls, 1);
    EXPECT_EQ(world.cancelsFromHandler, 1);
    EXPECT_EQ(written, tooLate) << reason;
    if (tooLate) {
      EXPECT_EQ(world.written.size(), 100u * 2048);
    } else {
      EXPECT_EQ(reason.rfind("cancelled: the disc is now in an unknown state", 0), 0u) << reason;
      EXPECT_LT(world.written.size(), 100u * 2048);
    }
  }
}

TEST_F(ImapiBurn, RefusalsNameTheCauseInOurWordsAndIMAPIs) {
  struct Case {
    const char* name;
    std::function<void(ImapiBurn&)> arrange;
    const char* part;
  };
  const std::vector<Case> cases = {
      {"size not whole sectors", [](ImapiBurn& t) { umbra::test::writeFile(t.m_image, std::string(3000, 'x')); },
       "is not a whole number of 2,048-byte sectors"},
      {"drive error", [](ImapiBurn&) { imapi_double::world().writeFailure = static_cast<HRESULT>(0xC0AA0300); },
       "0xc0aa0300 (the drive ran short of data while writing: The drive reported an error while writing)"},
      {"too large", [](ImapiBurn&) { imapi_double::world().drives[0].freeSectors = 50; }, "larger than the free space"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.arrange(*this);
    std::string reason;
    EXPECT_FALSE(write(m_image, nullptr, {}, reason));
    EXPECT_NE(reason.find(c.part), std::string::npos) << reason;
  }
}

// The whole burn as the window and the command line tool run it, of an image whose name is
// outside any ANSI code page.
TEST_F(ImapiBurn, BurnsAnImageWithANonAsciiNameThroughTheBurner) {
  const fs::path image =
      m_tmp.path() / umbra::wideFromUtf8("\xCE\xB4\xCE\xAF\xCF\x83\xCE\xBA\xCE\xBF\xCF\x82-\xE5\x85\x89.iso");
  fs::copy_file(m_image, image);
  EXPECT_TRUE(burnAvailable());
  DiscBurner burner;
  BurnResult code = kNotSet;
  std::vector<int> burned;
  BurnProgress progress;
  progress.burnPercent = [&burned](int p) { burned.push_back(p); };
  EXPECT_TRUE(burner.burnFile(image, code, progress)) << burner.lastError();
  EXPECT_EQ(code, BurnResult::Succeeded);
  EXPECT_EQ(imapi_double::world().written, umbra::test::readBytes(image));
  ASSERT_FALSE(burned.empty());
  EXPECT_EQ(burned.back(), 100);
}

// The command line tool's burn prints the write's progress as the events report it.
TEST_F(ImapiBurn, TheCommandLinePrintsTheWritesProgress) {
  const std::string printed = burnByCommandLine(m_image);
  for (const char* line : {"Writing to the disc: 0%\n", "Writing to the disc: 16%\n", "Writing to the disc: 32%\n",
                           "Writing to the disc: 64%\n", "Writing to the disc: 100%\n"}) {
    EXPECT_NE(printed.find(line), std::string::npos) << line << " in:\n" << printed;
  }
}

// burn --verify on Windows: the level reaches the writer's IBurnVerification before Write, and the
// verdict is IMAPI2's own (a verification failure comes back from Write, naming no block). Without
// --verify the level is set to none, not left at whatever the writer starts with.
TEST_F(ImapiBurn, TheCommandLineHasWindowsVerifyTheBurnAtTheLevelAsked) {
  const std::string matches = "Burn succeeded!\nThe disc matches the image.\nChecked by Windows' ";
  const std::string differs = "The disc does not match the image: Windows' ";
  struct Case {
    const char* name;
    BurnVerification verification;
    bool verificationFails;  // the disc in the double fails any check
    long level;              // IMAPI_BURN_VERIFICATION_LEVEL at Write
    int status;
    std::string out, err;  // each must be in its stream
  };
  const BurnVerification quick{.enabled = true, .level = VerifyLevel::Quick, .beforeReadBack = {}};
  const BurnVerification full{.enabled = true, .level = VerifyLevel::Full, .beforeReadBack = {}};
  const std::vector<Case> cases = {
      {"without --verify", {}, false, 0, 0, "Burn succeeded!\n", ""},
      {"without --verify, a disc that would fail", {}, true, 0, 0, "Burn succeeded!\n", ""},
      {"--verify", quick, false, 1, 0, matches + "quick verification (", ""},
      {"--verify=full", full, false, 2, 0, matches + "full verification (the whole session", ""},
      {"--verify, failing", quick, true, 1, 4, "Burn succeeded!\n",
       differs + "quick verification (the disc's layout and a sample of its sectors against the image) failed. "
                 "Windows does not say which block differs.\n"},
      {"--verify=full, failing", full, true, 2, 4, "Burn succeeded!\n", differs + "full verification ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    imapi_double::World& world = imapi_double::world();
    world.verificationFails = c.verificationFails;
    std::ostringstream out, err;
    EXPECT_EQ(runBurnCommand(umbra::utf8FromWide(m_image.wstring()), "E:", out, err, c.verification), c.status)
        << out.str() << err.str();
    EXPECT_EQ(world.verificationLevel, c.level);
    EXPECT_EQ(world.written, umbra::test::readBytes(m_image));
    EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    // Windows' check gives no hashes, and none is made up; nothing is claimed without a check.
    EXPECT_EQ((out.str() + err.str()).find("SHA-256"), std::string::npos) << out.str() << err.str();
    if (!c.verification.enabled || c.status != 0) {
      EXPECT_EQ(out.str().find("matches"), std::string::npos) << out.str();
    }
  }
}

// The burner asked for a check gets IMAPI2's verdict from verifyDisc; one not asked for says that
// no check was made rather than claim a match.
TEST_F(ImapiBurn, TheBurnersVerdictIsTheWritersCheck) {
  for (const bool asked : {false, true}) {
    SCOPED_TRACE(asked ? "quick check asked for" : "no check asked for");
    SetUp();
    DiscBurner burner;
    if (asked) burner.setVerifyLevel(VerifyLevel::Quick);
    BurnResult code = kNotSet;
    ASSERT_TRUE(burner.burnFile(m_image, code)) << burner.lastError();
    const VerifyResult result = burner.verifyDisc(m_image);
    EXPECT_EQ(imapi_double::world().verificationLevel, asked ? 1 : 0);
    if (asked) {
      EXPECT_EQ(result.outcome, VerifyOutcome::Matches);
      EXPECT_EQ(result.checkedByWindows, VerifyLevel::Quick);
    } else {
      EXPECT_EQ(result.outcome, VerifyOutcome::DiscUnreadable);
      EXPECT_EQ(verifyMessage(result),
                "The disc could not be read back: the burn was not verified by Windows, and this program cannot "
                "read a disc back on Windows.");
    }
  }
}

// A write that fails on its own is a failed burn, also when a check was asked for: only IMAPI2's
// verification code makes a written disc that failed its check.
TEST_F(ImapiBurn, AWriteFailureIsNotTakenForAFailedCheck) {
  imapi_double::world().writeFailure = static_cast<HRESULT>(0xC0AA0300);
  imapi_double::world().verificationFails = true;
  ImapiRecorderService service;
  WriteCheck check{.level = VerifyLevel::Full, .failed = false};
  std::string reason;
  EXPECT_FALSE(
      service.writeImage(umbra::utf8FromWide(imapi_double::world().drives[0].id), m_image, check, {}, {}, reason));
  EXPECT_FALSE(check.failed);
  EXPECT_NE(reason.find("writing the disc failed: 0xc0aa0300"), std::string::npos) << reason;
}

// The command line tool's burn of an image whose path, and the staging folder's, hold letters
// outside every ANSI code page: the tool takes the path as UTF-8 and opens it by its wide form.
TEST_F(ImapiBurn, TheCommandLineBurnsAnImageWhosePathIsOutsideAscii) {
  const fs::path folder = m_tmp.path() / umbra::wideFromUtf8("\xCE\x96\xCF\x89\xCE\xAE \xE5\x85\x89");
  const fs::path staging = folder / L"staging";
  const fs::path image = folder / umbra::wideFromUtf8("\xCE\xB4\xCE\xAF\xCF\x83\xCE\xBA\xCE\xBF\xCF\x82.iso");
  fs::create_directories(staging);
  fs::copy_file(m_image, image);
  _wputenv_s(L"UMBRADISC_STAGING_DIR", staging.c_str());
  burnByCommandLine(image);
  EXPECT_TRUE(fs::is_empty(staging)) << "the staged copy is removed after the burn";
}

// A burn that stops mid-write: on a rewritable medium the burner keeps the drive and erases it
// quickly through MsftDiscFormat2Erase when asked; on a write-once medium nothing is offered.
TEST_F(ImapiBurn, AStoppedBurnLeavesAnUnknownDiscThatIsErasedWhenRewritable) {
  struct Case {
    const char* name;
    long mediaType;  // IMAPI_MEDIA_PHYSICAL_TYPE
    DiscState state;
  };
  const Case cases[] = {
      {"CD-RW", 3, DiscState::UnknownRewritable},  {"DVD+RW", 7, DiscState::UnknownRewritable},
      {"BD-RE", 19, DiscState::UnknownRewritable}, {"CD-R", 2, DiscState::UnknownWriteOnce},
      {"DVD+R", 6, DiscState::UnknownWriteOnce},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    imapi_double::World& world = imapi_double::world();
    world.drives[0].mediaType = c.mediaType;
    DiscBurner burner;
    BurnResult code = kNotSet;
    std::vector<int> burned;
    BurnProgress progress;
    progress.burnPercent = [&burned](int p) { burned.push_back(p); };
    progress.cancelRequested = [&burned] { return !burned.empty() && burned.back() >= 30; };
    ASSERT_FALSE(burner.burnFile(m_image, code, progress));
    EXPECT_EQ(code, BurnResult::Failed);
    EXPECT_EQ(burner.lastError().rfind("cancelled: the disc is now in an unknown state", 0), 0u) << burner.lastError();
    EXPECT_EQ(burner.discStateAfterBurn(), c.state);
    world.drives[0].blank = false;

    std::vector<int> erased;
    const bool ok = burner.eraseDisc([&erased](int p) { erased.push_back(p); });
    const auto erases = std::count(world.eraseCalls.begin(), world.eraseCalls.end(), "EraseMedia");
    if (c.state == DiscState::UnknownWriteOnce) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(erases, 0);
      EXPECT_FALSE(world.drives[0].blank);
      continue;
    }
    ASSERT_TRUE(ok) << burner.lastError();
    EXPECT_TRUE(world.drives[0].blank);
    EXPECT_EQ(erased, (std::vector<int>{0, 100}));
    // The last eraser: bound to the recorder, named, set to quick, then EraseMedia, once.
    ASSERT_GE(world.eraseCalls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(world.eraseCalls.end() - 4, world.eraseCalls.end()),
              (std::vector<std::string>{"Recorder=", "ClientName=Umbradisc", "FullErase=false", "EraseMedia"}));
    EXPECT_EQ(erases, 1);
    EXPECT_EQ(burner.discStateAfterBurn(), DiscState::Untouched);
  }
}

TEST_F(ImapiBurn, AFailingEraseSaysWhy) {
  imapi_double::world().eraseFailure = static_cast<HRESULT>(0xC0AA0207);
  ImapiRecorderService service;
  const std::string id = umbra::utf8FromWide(imapi_double::world().drives[0].id);
  std::string reason;
  EXPECT_TRUE(service.canEraseMedium(id, reason)) << reason;
  EXPECT_FALSE(service.eraseMedium(id, {}, reason));
  // Our words for the code and IMAPI's own description.
  EXPECT_EQ(reason.rfind("erasing the disc failed: 0xc0aa0207 (the drive is busy", 0), 0u) << reason;
  EXPECT_NE(reason.find("The drive reported an error while erasing"), std::string::npos) << reason;

  imapi_double::world().drives[0].mediaType = 2;  // CD-R
  EXPECT_FALSE(service.canEraseMedium(id, reason));
  EXPECT_EQ(reason, "the medium in the drive cannot be erased (it is not rewritable)");
}

TEST_F(ImapiBurn, ANonBlankMediumIsNotChosen) {
  imapi_double::world().drives[0].blank = false;
  DiscBurner burner;
  BurnResult code = kNotSet;
  EXPECT_FALSE(burner.burnFile(m_image, code));
  EXPECT_EQ(code, BurnResult::NoRecorder);
  EXPECT_NE(burner.lastError().find("not blank"), std::string::npos) << burner.lastError();
}

}  // namespace
