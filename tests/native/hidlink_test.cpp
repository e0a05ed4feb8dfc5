// Finding, accepting and writing to the box on the simulated HID bus.
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>

#include "fixture.h"
#include "hidlink/box_key.h"
#include "status/status_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

// 00 01 bits, cut or zero-filled to the declared length.
Bytes Report(uint8_t bits, size_t length = 9) {
  Bytes report = {0x00, 0x01, bits};
  report.resize(length, 0x00);
  return report;
}

sim::HidDevice Box(std::u16string product, std::u16string manufacturer = u"TARVOKEY") {
  sim::HidDevice box;
  box.product = std::move(product);
  box.manufacturer = std::move(manufacturer);
  return box;
}

sim::HidDevice Foreign() {
  sim::HidDevice mouse;
  mouse.vendorId = 0x046D;
  mouse.productId = 0xC077;
  mouse.product = u"USB Optical Mouse";
  return mouse;
}

bool DeviceOpen() { return activeKeyer != nullptr && activeKeyer->deviceOpen; }

// Up to count trace lines, from the first that starts with `from`.
std::vector<std::string> TracesFrom(const std::string& from, size_t count) {
  const auto lines = sim::TraceLines();
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size() && out.size() < count; ++i) {
    if (out.empty() && lines[i].rfind(from, 0) != 0) continue;
    out.push_back(lines[i]);
  }
  return out;
}

void ExpectLabels(const std::vector<std::string>& lines, const std::vector<std::string>& labels) {
  ASSERT_EQ(lines.size(), labels.size());
  for (size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, labels[i].size()), labels[i]) << "line " << i << ": " << lines[i];
  }
}

}  // namespace

using HidLinkTest = DriverTest;

TEST_F(HidLinkTest, NoDevicesOpensAnywayAndLooksAgainAtEveryTick) {
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_FALSE(DeviceOpen());
  EXPECT_EQ(sim::TraceLines().back().substr(0, 28), "SetupDiDestroyDeviceInfoList");
  EXPECT_EQ(sim::Box()->Counts().discoveries, 1);
  EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);

  sim::FireNextTimer();
  sim::FireNextTimer();
  EXPECT_EQ(sim::Box()->Counts().discoveries, 3);
  EXPECT_TRUE(sim::Box()->Writes().empty());

  // Plugged in later: found at the next tick.
  const int box = sim::AttachBox();
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  ASSERT_EQ(sim::HidReports().size(), 1u);
  EXPECT_EQ(sim::HidReports()[0].slot, box);
  EXPECT_EQ(sim::HidReports()[0].startMs, 66u);
}

TEST_F(HidLinkTest, AcceptedDiscoveryTracesEachStepAndHoldsBothHandles) {
  sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  ExpectLabels(TracesFrom("***HID Test Report***", 13),
               {"***HID Test Report***", "CreateFile: ", "HidD_GetAttributes: ", "Device detected",
                "HidD_GetPreparsedData: ", "HidP_GetCaps: ", "HidD_FreePreparsedData: ",
                "CreateFile (ReadHandle): ", "CreateEvent: ", "Device detected",
                "SetupDiDestroyDeviceInfoList", "WriteFile: ", "Bytes Written: 9"});
  EXPECT_EQ(sim::TraceLines()[1], "CreateFile: The operation completed successfully.\r\n");

  const auto open = sim::Box()->OpenHandles();
  EXPECT_EQ(open.device, 1);
  EXPECT_EQ(open.read, 1);
  EXPECT_EQ(open.events, 1);
  EXPECT_EQ(open.infoSets, 0);
  EXPECT_EQ(open.preparsedData, 0);
  EXPECT_EQ(activeKeyer->readOverlapped.hEvent, activeKeyer->readEvent);
  EXPECT_EQ(activeKeyer->detailData, nullptr);
}

// Devices that cannot be matched are opened (if they can be), closed and passed
// over; they make no read side and no event. A box behind them is used.
TEST_F(HidLinkTest, UnmatchedDevicesAreClosedAndTheBoxBehindThemUsed) {
  sim::HidDevice lockedBox = Box(u"TARVOKEY HID 3.1");
  lockedBox.failOpen = true;
  sim::HidDevice mute = Box(u"TARVOKEY HID 3.1");
  mute.failAttributes = true;
  const int foreign = sim::Box()->Plug(Foreign());
  const int locked = sim::Box()->Plug(lockedBox);
  const int silent = sim::Box()->Plug(mute);

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_FALSE(DeviceOpen());
  EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);
  EXPECT_EQ(activeKeyer->hwGeneration, 0);
  EXPECT_EQ(TracesFrom("Device detected", 1).size(), 0u);

  const int box = sim::AttachBox();
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  EXPECT_EQ(sim::HidOpens(foreign), 2);
  EXPECT_EQ(sim::HidOpens(locked), 0);
  EXPECT_EQ(sim::HidOpens(silent), 2);
  EXPECT_EQ(sim::HidOpens(box), 2);
  EXPECT_EQ(sim::Box()->OpenHandles().device, 1);
  EXPECT_EQ(sim::Box()->OpenHandles().read, 1);
  ASSERT_EQ(sim::HidReports().size(), 1u);
  EXPECT_EQ(sim::HidReports()[0].slot, box);
}

struct Identity {
  const char* name;
  std::u16string product;
  std::u16string manufacturer;
  bool stringsReadable;
  int32_t generation;
  bool accepted;
};

void PrintTo(const Identity& identity, std::ostream* os) { *os << identity.name; }

class GenerationTest : public DriverTest, public ::testing::WithParamInterface<Identity> {};

TEST_P(GenerationTest, DecidesAcceptanceAndRefusalIsRepeatedAtEveryDiscovery) {
  const Identity& id = GetParam();
  sim::HidDevice box = Box(id.product, id.manufacturer);
  box.stringsReadable = id.stringsReadable;
  const int index = sim::Box()->Plug(box);

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(activeKeyer->hwGeneration, id.generation);
  EXPECT_EQ(DeviceOpen(), id.accepted);
  EXPECT_EQ(sim::HidReports().size(), id.accepted ? 1u : 0u);
  // The event is made with the first matching box, accepted or not.
  EXPECT_EQ(sim::Box()->OpenHandles().events, 1);
  EXPECT_EQ(sim::Box()->OpenHandles().device, id.accepted ? 1 : 0);
  EXPECT_EQ(sim::Box()->OpenHandles().read, id.accepted ? 1 : 0);
  const plat::Handle event = activeKeyer->readEvent;

  sim::FireNextTimer();
  EXPECT_EQ(sim::HidOpens(index), id.accepted ? 2 : 4);
  EXPECT_EQ(DeviceOpen(), id.accepted);
  EXPECT_EQ(activeKeyer->readEvent, event);
  EXPECT_EQ(sim::Box()->OpenHandles().events, 1);
  if (!id.accepted) {
    EXPECT_EQ(sim::TraceLines().back().substr(0, 28), "SetupDiDestroyDeviceInfoList");
    EXPECT_EQ(sim::Box()->OpenHandles().Total(), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ProductAndMakerStrings, GenerationTest,
    ::testing::Values(
        Identity{"Digits31", u"TARVOKEY HID 3.1", u"TARVOKEY", true, 31, true},
        Identity{"Digits05", u"TARVOKEY HID 0.5", u"TARVOKEY", true, 5, true},
        Identity{"Digits99", u"TARVOKEY HID 9.9", u"TARVOKEY", true, 99, false},
        Identity{"Digits00", u"TARVOKEY HID 0.0", u"TARVOKEY", true, 0, false},
        Identity{"Position14Ignored", u"TARVOKEY HID 3x1", u"TARVOKEY", true, 31, true},
        // Code units count by their low eight bits: U+0133 reads as '3'.
        Identity{"LowEightBits", u"TARVOKEY HID \u0133.1", u"TARVOKEY", true, 31, true},
        Identity{"ShortMakerJ", u"TARVOKEY", u"JA1 Works", true, 10, true},
        Identity{"ShortMakerLowEightBitsJ", u"TARVOKEY", u"\u014Aapan", true, 10, true},
        Identity{"ShortOtherMaker", u"TARVOKEY", u"Tarvo", true, 99, false},
        Identity{"DigitsMissingAt15", u"TARVOKEY HID 3.", u"Tarvo", true, 99, false},
        Identity{"Unreadable", u"TARVOKEY HID 3.1", u"JA1 Works", false, 99, false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(HidLinkTest, OnlyTheFirstBoxIsExamined) {
  const int refused = sim::Box()->Plug(Box(u"TARVOKEY HID 9.9"));
  const int second = sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  sim::FireNextTimer();
  EXPECT_FALSE(DeviceOpen());
  EXPECT_EQ(sim::HidOpens(refused), 4);
  EXPECT_EQ(sim::HidOpens(second), 0);

  // With the refused one gone, the second is next in line.
  sim::Box()->Unplug(refused);
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  EXPECT_EQ(sim::HidOpens(second), 2);
}

class ReportLengthTest : public DriverTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(ReportLengthTest, ReportIsExactlyTheDeclaredLength) {
  const uint16_t length = GetParam();
  sim::AttachBox(length);
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  sim::FireNextTimer();
  const auto reports = sim::HidReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].bytes, Report(0x0F, length));
  EXPECT_EQ(reports[1].bytes, Report(0x0C, length));
  EXPECT_EQ(sim::TraceLines().back(), "Bytes Written: " + std::to_string(length));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ReportLengthTest, ::testing::Values(1, 2, 3, 9, 65, 1024));

TEST_F(HidLinkTest, CharacterGoesOutAsOneReportPerElementOnTime) {
  sim::AttachBox();
  ASSERT_EQ(extfskOpen(0x002D0016), 1);
  // A write that takes its time delays nothing but itself: each element is
  // timed from the tick that starts it.
  sim::Box()->StallNextWrites(sim::kEveryWrite, 10);
  EXPECT_EQ(extfskSetPTT(1), 0x0D);
  EXPECT_EQ(extfskIsTxBusy(), 0);
  sim::FireNextTimer();  // idle mark
  extfskPutChar(0x13);
  EXPECT_EQ(extfskIsTxBusy(), 1);
  for (int i = 0; i < 8; ++i) sim::FireNextTimer();
  EXPECT_EQ(extfskIsTxBusy(), 0);

  const auto reports = sim::HidReports();
  // Open, idle, start, 1 1 0 0 1 (bit 0 first), stop, idle.
  const std::vector<uint8_t> bits = {0x0F, 0x0C, 0x0D, 0x0C, 0x0C, 0x0D, 0x0D, 0x0C, 0x0C, 0x0C};
  const std::vector<uint32_t> times = {0, 22, 44, 66, 88, 110, 132, 154, 176, 209};
  ASSERT_EQ(reports.size(), bits.size());
  for (size_t i = 0; i < bits.size(); ++i) {
    EXPECT_EQ(reports[i].bytes, Report(bits[i])) << "report " << i;
    EXPECT_EQ(reports[i].startMs, times[i]) << "report " << i;
  }
  EXPECT_EQ(sim::Box()->Writes().size(), reports.size());
  EXPECT_EQ(sim::Box()->Counts().discoveries, 1) << "an open link needs no discovery";
}

TEST_F(HidLinkTest, UnpluggedBoxIsSoughtAtEveryTickAndBackAtTheFirstAfterReturning) {
  const int box = sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  sim::FireNextTimer();  // 22: idle
  extfskPutChar(0x13);
  sim::FireNextTimer();  // 44: start bit
  sim::Box()->Unplug(box);
  sim::ClearTrace();

  sim::FireNextTimer();  // 66: bit 0, the write fails
  auto writes = sim::Box()->Writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_FALSE(writes.back().ok);
  EXPECT_EQ(writes.back().error, plat::kErrorDeviceNotConnected);
  EXPECT_FALSE(DeviceOpen());
  EXPECT_EQ(sim::Box()->OpenHandles().device, 0);
  EXPECT_EQ(sim::Box()->OpenHandles().read, 0);
  ExpectLabels(
      TracesFrom("Can't write to device", 3),
      {"Can't write to device", "WriteFile: The device is not connected.\r\n", "Bytes Written: 0"});

  const int enumerations = sim::Box()->Counts().discoveries;
  sim::FireNextTimer();  // 88
  sim::FireNextTimer();  // 110
  EXPECT_EQ(sim::Box()->Counts().discoveries, enumerations + 2);
  EXPECT_EQ(sim::Box()->Writes().size(), 4u) << "nothing is written while the box is away";
  EXPECT_EQ(sim::TraceLines().back().substr(0, 28), "SetupDiDestroyDeviceInfoList");
  EXPECT_EQ(TracesFrom("Device not detected", 1).size(), 1u);
  EXPECT_EQ(activeKeyer->hwGeneration, 31) << "the lost box's generation stands";

  sim::Box()->Replug(box);
  sim::FireNextTimer();  // 132: bit 3, where the framing has got to
  sim::FireNextTimer();  // 154: bit 4
  writes = sim::Box()->Writes();
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_TRUE(writes[4].ok);
  EXPECT_EQ(writes[4].startMs, 132u);
  EXPECT_EQ(writes[4].bytes, Report(0x0D));
  EXPECT_EQ(writes[5].bytes, Report(0x0C));
  EXPECT_EQ(sim::Box()->Counts().discoveries, enumerations + 3);
}

TEST_F(HidLinkTest, CloseWithTheBoxAttachedReleasesEveryLineLastAndLeavesNothingOpen) {
  sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  sim::FireNextTimer();
  extfskClose();
  const auto reports = sim::HidReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].bytes, Report(0x0C));
  EXPECT_EQ(reports.back().bytes, Report(0x0F));
  EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0);
}

// When the capabilities cannot be read the last known report length stands;
// with none known yet, nothing is written and the box is looked at again.
TEST_F(HidLinkTest, UnreadableCapabilitiesKeepTheLastKnownLength) {
  sim::HidDevice box = Box(u"TARVOKEY HID 3.1");
  box.failCaps = true;
  const int id = sim::Box()->Plug(box);
  ASSERT_EQ(extfskOpen(0), 1);
  auto writes = sim::Box()->Writes();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_FALSE(writes[0].ok);
  EXPECT_TRUE(writes[0].bytes.empty());
  EXPECT_FALSE(DeviceOpen());

  sim::Box()->Device(id).failCaps = false;
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());

  // Known length: a later failure to read the capabilities keeps it.
  for (const bool capsFail : {false, true}) {
    sim::Box()->Unplug(id);
    sim::FireNextTimer();
    sim::Box()->Device(id).failPreparsedData = !capsFail;
    sim::Box()->Device(id).failCaps = capsFail;
    sim::Box()->Replug(id);
    sim::FireNextTimer();
    writes = sim::Box()->Writes();
    EXPECT_TRUE(writes.back().ok) << (capsFail ? "capabilities" : "preparsed data");
    EXPECT_EQ(writes.back().bytes, Report(0x0F));
  }
}

// A failure on the way to the box costs one discovery: the box is used from
// the next tick on, and nothing is left open or allocated.
struct LinkFault {
  const char* name;
  int failAllocation;  // the nth allocation of the open: 1 the instance, 2 the detail record, 3 the
                       // report buffer
  bool shortWrite;     // the write says it succeeded but wrote less than the report
};

void PrintTo(const LinkFault& fault, std::ostream* os) { *os << fault.name; }

class LinkFaultTest : public DriverTest, public ::testing::WithParamInterface<LinkFault> {};

TEST_P(LinkFaultTest, BoxIsUsedFromTheNextTick) {
  const LinkFault& fault = GetParam();
  sim::AttachBox();
  if (fault.shortWrite) sim::Box()->ShortenNextWrites(1);
  if (fault.failAllocation != 0) sim::FailAllocation(fault.failAllocation);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_FALSE(DeviceOpen());
  EXPECT_TRUE(sim::HidReports().empty());
  EXPECT_EQ(sim::Box()->OpenHandles().device, 0);

  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  ASSERT_EQ(sim::HidReports().size(), 1u);
  EXPECT_EQ(sim::HidReports()[0].bytes, Report(0x0F));
}

INSTANTIATE_TEST_SUITE_P(Faults, LinkFaultTest,
                         ::testing::Values(LinkFault{"NoMemoryForTheDetailRecord", 2, false},
                                           LinkFault{"NoMemoryForTheReportBuffer", 3, false},
                                           LinkFault{"ShortWrite", 0, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(HidLinkTest, FailingWritesDropTheLinkEachTime) {
  const int id = sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  sim::Box()->FailNextWrites(sim::kEveryWrite);
  sim::FireNextTimer();
  sim::FireNextTimer();
  const auto writes = sim::Box()->Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_FALSE(writes[1].ok);
  EXPECT_FALSE(writes[2].ok);
  EXPECT_EQ(sim::HidOpens(id), 4) << "the second tick found the box again";
  EXPECT_EQ(sim::Box()->OpenHandles().device, 0);
}

// One program keys a box at a time. A box another program holds gets nothing
// at all, is looked at again at every discovery (it is said once for each
// wait) and is taken at the first discovery after the holder lets go. Once
// linked, the claim is kept until the close, whatever drops the link: a
// failed write or an unplug never lets a waiting program have the radio. A
// second box linked instead gives the first one's claim back.
TEST_F(HidLinkTest, TheBoxIsKeyedOnlyUnderItsClaim) {
  sim::SetTraceEnabled(true);
  const int box = sim::AttachBox();
  char claim[kClaimNameBytes];
  ClaimName(BoxKey(sim::Box()->PathOf(box).c_str()), claim);
  const auto held = [] { return sim::Box()->HeldClaims(); };
  const auto waits = [] {
    const auto lines = sim::TraceLines();
    return std::count(lines.begin(), lines.end(), "Device in use by another program");
  };
  const auto record = [] {
    const std::vector<sim::StatusSection> sections = sim::StatusSections();
    return sections.empty() ? status::Record{}
                            : status::Read(sections[0].view, sections[0].bytes, 4242).record;
  };

  sim::Box()->HoldClaimElsewhere(claim, sim::BoxModel::Holder::Elevated);
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  for (int tick = 0; tick < 5; ++tick) sim::FireNextTimer();
  EXPECT_TRUE(sim::Box()->Writes().empty()) << "a box another program holds was written to";
  EXPECT_EQ(sim::Box()->Counts().discoveries, 6);
  EXPECT_EQ(waits(), 1);
  EXPECT_EQ(TracesFrom("CreateMutex (claim): ", 1).size(), 1u);
  EXPECT_EQ(sim::Box()->OpenHandles().Total(), 0) << "a box in use is not held open";
  EXPECT_EQ(record().link, static_cast<uint8_t>(status::Link::InUse));
  EXPECT_EQ(record().claimError, plat::kErrorAccessDenied);
  EXPECT_EQ(record().claimKey, 0u);

  sim::Box()->ReleaseClaimElsewhere(claim);
  sim::FireNextTimer();
  EXPECT_EQ(sim::HidReports().size(), 1u) << "not taken at the first discovery after";
  EXPECT_THAT(held(), ::testing::ElementsAre(claim));
  EXPECT_EQ(record().link, static_cast<uint8_t>(status::Link::Linked));
  EXPECT_EQ(record().claimKey, BoxKey(sim::Box()->PathOf(box).c_str()));

  // A failed write, then an unplug: the link drops, the claim stays (the
  // model records a breach if the instance ever takes it a second time),
  // and the box is linked again as soon as it answers.
  sim::Box()->FailNextWrites(1);
  sim::FireNextTimer();
  EXPECT_FALSE(DeviceOpen());
  EXPECT_THAT(held(), ::testing::ElementsAre(claim));
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  sim::Box()->Unplug(box);
  sim::FireNextTimer();
  sim::FireNextTimer();
  EXPECT_THAT(held(), ::testing::ElementsAre(claim));
  EXPECT_EQ(record().claimKey, BoxKey(sim::Box()->PathOf(box).c_str()));
  sim::Box()->Replug(box);
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  EXPECT_EQ(waits(), 1);

  // Another box linked while the first is away: one claim, the new box's.
  sim::Box()->Unplug(box);
  sim::FireNextTimer();
  const int other = sim::AttachBox();
  char otherClaim[kClaimNameBytes];
  ClaimName(BoxKey(sim::Box()->PathOf(other).c_str()), otherClaim);
  sim::FireNextTimer();
  EXPECT_TRUE(DeviceOpen());
  EXPECT_THAT(held(), ::testing::ElementsAre(otherClaim));

  extfskClose();
  EXPECT_EQ(sim::HidReports().back().bytes, Report(0x0F));
  EXPECT_TRUE(held().empty());
}

// How the claim's name shows a holder (one run as administrator is above): a
// program of this user, an object of another kind under the name; and a host
// that may not make the name at all (a sandbox), which keys a box nobody holds
// without a claim, and says so, but never one held.
TEST_F(HidLinkTest, ClaimErrorsAreToldApart) {
  sim::SetTraceEnabled(true);
  const int box = sim::AttachBox();
  char claim[kClaimNameBytes];
  ClaimName(BoxKey(sim::Box()->PathOf(box).c_str()), claim);
  const auto record = [] {
    const std::vector<sim::StatusSection> sections = sim::StatusSections();
    return status::Read(sections.at(0).view, sections.at(0).bytes, 4242).record;
  };
  using Holder = sim::BoxModel::Holder;
  const struct {
    Holder holder;
    bool forbidden;
    uint32_t error;
  } held[] = {
      {Holder::ThisUser, false, plat::kErrorAlreadyExists},
      {Holder::OtherKind, false, plat::kErrorInvalidHandle},
      {Holder::ThisUser, true, plat::kErrorAccessDenied},
      {Holder::OtherKind, true, plat::kErrorInvalidHandle},
  };
  for (const auto& c : held) {
    SCOPED_TRACE(static_cast<int>(c.holder) * 2 + c.forbidden);
    sim::Box()->HoldClaimElsewhere(claim, c.holder);
    sim::Box()->ForbidClaims(c.forbidden);
    ASSERT_EQ(extfskOpen(0), 1);
    sim::FireNextTimer();
    EXPECT_TRUE(sim::Box()->Writes().empty());
    EXPECT_EQ(record().link, static_cast<uint8_t>(status::Link::InUse));
    EXPECT_EQ(record().claimError, c.error);
    extfskClose();
  }

  sim::Box()->ReleaseClaimElsewhere(claim);
  sim::Box()->ForbidClaims(true);
  ASSERT_EQ(extfskOpen(0), 1);
  sim::FireNextTimer();
  EXPECT_EQ(sim::HidReports().size(), 2u);
  EXPECT_TRUE(sim::Box()->HeldClaims().empty());
  EXPECT_EQ(record().link, static_cast<uint8_t>(status::Link::Linked));
  EXPECT_EQ(record().unclaimed, 1u);
  EXPECT_EQ(record().claimError, plat::kErrorAccessDenied);
  ExpectLabels(TracesFrom("Device keyed without a claim", 2),
               {"Device keyed without a claim", "CreateMutex (claim): "});
}

// FskBox chooses one box: the others are passed over unopened, and so is
// every other device; while the chosen one is away nothing is written and
// the wait is said once; it is taken at the first discovery after it comes
// back. An FskBox that names no box keys none and looks for none.
TEST_F(HidLinkTest, TheChosenBoxAndNoOther) {
  sim::SetTraceEnabled(true);
  sim::Box()->Plug(Foreign());
  const int first = sim::AttachBox();
  const int chosen = sim::AttachBox();
  const uint64_t key = BoxKey(sim::Box()->PathOf(chosen).c_str());
  char text[kBoxKeyTextBytes];
  BoxKeyText(key, text);
  std::ofstream("tarvokey.ini", std::ios::binary)
      << "FskRev=0\r\nFskPin=1\r\nFskBox=" << text << "\r\n";
  const auto absences = [] {
    const auto lines = sim::TraceLines();
    return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.rfind("Chosen box not present: FskBox=", 0) == 0;
    });
  };
  const auto opened = [](int slot) { return sim::HidOpens(slot); };

  ASSERT_EQ(extfskOpen(0), 1);
  sim::FireNextTimer();
  EXPECT_EQ(opened(0) + opened(first), 0) << "a device that is not the chosen box was opened";
  const std::vector<sim::BoxEvent> reports = sim::HidReports();
  ASSERT_EQ(reports.size(), 2u) << "from the open's first report on";
  EXPECT_EQ(reports[0].slot, chosen);

  sim::Box()->Unplug(chosen);
  for (int tick = 0; tick < 4; ++tick) sim::FireNextTimer();
  EXPECT_EQ(sim::HidReports().size(), 2u);
  EXPECT_EQ(opened(0) + opened(first), 0);
  EXPECT_EQ(absences(), 1);
  EXPECT_EQ(TracesFrom("Chosen box not present", 1),
            std::vector<std::string>{std::string("Chosen box not present: FskBox=") + text});
  sim::Box()->Replug(chosen);
  sim::FireNextTimer();
  EXPECT_EQ(sim::HidReports().back().slot, chosen);
  extfskClose();

  // Two keys, or one that is not a key: nothing is looked for or written.
  for (const std::string& line : {"FskBox=" + std::string(text) + "\r\nFskBox=0123456789abcdef",
                                  std::string("FskBox=０１２３")}) {
    std::ofstream("tarvokey.ini", std::ios::binary) << "FskRev=0\r\nFskPin=1\r\n" << line;
    const size_t writes = sim::Box()->Writes().size();
    const int discoveries = sim::Box()->Counts().discoveries;
    ASSERT_EQ(extfskOpen(0), 1);
    sim::FireNextTimer();
    extfskClose();
    EXPECT_EQ(sim::Box()->Writes().size(), writes);
    EXPECT_EQ(sim::Box()->Counts().discoveries, discoveries);
  }
}

struct DetailFault {
  const char* name;
  bool failQuery;
  std::optional<uint32_t> reportedSize;
};

void PrintTo(const DetailFault& fault, std::ostream* os) { *os << fault.name; }

class DetailRecordTest : public DriverTest, public ::testing::WithParamInterface<DetailFault> {};

// An interface whose detail record cannot be had is passed over, and its
// device is never opened.
TEST_P(DetailRecordTest, InterfaceIsPassedOverForTheNext) {
  sim::HidDevice broken = Box(u"TARVOKEY HID 3.1");
  broken.failDetailQuery = GetParam().failQuery;
  broken.reportedDetailSize = GetParam().reportedSize;
  const int first = sim::Box()->Plug(broken);
  const int second = sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(sim::HidOpens(first), 0);
  EXPECT_TRUE(DeviceOpen());
  ASSERT_EQ(sim::HidReports().size(), 1u);
  EXPECT_EQ(sim::HidReports()[0].slot, second);
}

INSTANTIATE_TEST_SUITE_P(Faults, DetailRecordTest,
                         ::testing::Values(DetailFault{"QueryFails", true, std::nullopt},
                                           DetailFault{"SizeZero", false, 0u},
                                           DetailFault{"SizeBelowFixedPart", false, 3u},
                                           DetailFault{"SizeTooSmallForThePath", false, 6u},
                                           DetailFault{"SizeHuge", false, 0x7FFFFFFFu},
                                           DetailFault{"SizeMax", false, 0xFFFFFFFFu}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(HidLinkTest, PathWithoutTerminatorIsStillOpened) {
  sim::HidDevice box = Box(u"TARVOKEY HID 3.1");
  box.pathUnterminated = true;
  sim::Box()->Plug(box);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_TRUE(DeviceOpen());
}

TEST_F(HidLinkTest, TicksOnARealTimerThreadShareTheBus) {
  sim::StartRealTime();
  sim::AttachBox();
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  for (int i = 0; i < 20; ++i) {
    extfskIsTxBusy();
    extfskPutChar(0x1F);
    plat::SleepMs(5);
  }
  extfskClose();
  sim::StopRealTime();
  const auto reports = sim::HidReports();
  EXPECT_GE(reports.size(), 3u);
  EXPECT_EQ(reports.back().bytes, Report(0x0F));
  EXPECT_EQ(sim::Box()->Writes().size(), reports.size());
}
