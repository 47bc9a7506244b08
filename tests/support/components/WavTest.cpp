#include "common/TestSupport.h"
#include "support/components/TkitWav.h"

#include <gtest/gtest.h>
#include <memory>

using namespace morvane;

namespace {

// Records every call the component makes of the sound device.
struct RecordingBackEnd : SoundBackEnd
{
    struct Call
    {
        bool Stop = false;
        SoundRequest Request;
    };
    std::shared_ptr<std::vector<Call>> Calls = std::make_shared<std::vector<Call>>();
    bool PlaySound(const SoundRequest& request) override
    {
        Calls->push_back({false, request});
        return true;
    }
    void StopSound() override { Calls->push_back({true, {}}); }
};

class WavTest : public ::testing::Test
{
protected:
    WavTest()
    {
        auto backEnd = std::make_unique<RecordingBackEnd>();
        m_calls = backEnd->Calls;
        m_wav = std::make_unique<TkitWav>(nullptr, std::move(backEnd));
    }
    const SoundRequest& LastPlay() const
    {
        for (auto it = m_calls->rbegin(); it != m_calls->rend(); ++it)
            if (!it->Stop)
                return it->Request;
        throw std::logic_error("nothing played");
    }

    test::TestEnv m_env;
    std::shared_ptr<std::vector<RecordingBackEnd::Call>> m_calls;
    std::unique_ptr<TkitWav> m_wav;
};

struct RequestCase
{
    const char* Name;
    std::function<void(TkitWav&)> Setup;
    std::uint32_t Flags;
    QString SoundName;
};

class WavRequestTest : public WavTest, public ::testing::WithParamInterface<RequestCase>
{
};

TEST_P(WavRequestTest, DeviceGetsTheFlagsAndNameThePropertiesDescribe)
{
    GetParam().Setup(*m_wav);
    m_wav->Play();
    EXPECT_EQ(LastPlay().Flags, GetParam().Flags);
    EXPECT_EQ(LastPlay().Name, GetParam().SoundName);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, WavRequestTest,
    ::testing::Values(RequestCase{"NewComponent", [](TkitWav&) {}, 139267u, ""},
                      RequestCase{"LoopedAndSynchronous",
                                  [](TkitWav& w) {
                                      w.SetLooped(true);
                                      w.SetAsyncPlay(false);
                                  },
                                  SND_LOOP | SND_NODEFAULT | SND_NOWAIT | SND_FILENAME, ""},
                      RequestCase{"EveryFlagOff",
                                  [](TkitWav& w) {
                                      w.SetAsyncPlay(false);
                                      w.SetNoDefaultSound(false);
                                      w.SetNoWaitIfBusy(false);
                                      w.SetNoStopSound(true);
                                      w.SetFileName("/tmp/ring.wav");
                                  },
                                  SND_NOSTOP | SND_FILENAME, "/tmp/ring.wav"},
                      RequestCase{"Resource", [](TkitWav& w) { w.SetPlayFrom(pfResource); },
                                  SND_ASYNC | SND_NODEFAULT | SND_NOWAIT | SND_RESOURCE, "WAVE1"},
                      RequestCase{"Alias",
                                  [](TkitWav& w) {
                                      w.SetPlayFrom(pfSystemEvent);
                                      w.SetEventAlias("SystemExclamation");
                                  },
                                  SND_ASYNC | SND_NODEFAULT | SND_NOWAIT | SND_ALIAS, "SystemExclamation"},
                      RequestCase{"KeptBytes", [](TkitWav& w) { w.SetPlayFrom(pfDFM); },
                                  SND_ASYNC | SND_NODEFAULT | SND_NOWAIT | SND_MEMORY, ""}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.Name); });

TEST_F(WavTest, KeptBytesFollowPlayFromAndStayWithTheDeviceWhenDropped)
{
    test::WriteFile(m_env.Work() + "ding.wav", "RIFF-bytes");
    m_wav->SetFileName(QString::fromStdString(m_env.Work() + "ding.wav"));
    m_wav->SetPlayFrom(pfDFM);
    EXPECT_EQ(m_wav->Data(), QByteArray("RIFF-bytes"));
    m_wav->Play();
    EXPECT_EQ(LastPlay().Data, QByteArray("RIFF-bytes"));
    // The component lets go of its bytes; the device still has what it plays.
    m_wav->SetPlayFrom(pfFile);
    EXPECT_EQ(m_wav->DataSize(), 0u);
    EXPECT_EQ(LastPlay().Data, QByteArray("RIFF-bytes"));
}

TEST_F(WavTest, DestroyingStopsTheSound)
{
    m_wav->Play();
    m_calls->clear();
    m_wav.reset();
    ASSERT_EQ(m_calls->size(), 1u);
    EXPECT_TRUE(m_calls->front().Stop);
}

TEST_F(WavTest, SettersInsideTheEventsReplayOnceAndNeverRecurse)
{
    int before = 0;
    int after = 0;
    m_wav->SetPlayFrom(pfSystemEvent);
    m_wav->SetOnPlayBefore([&](QObject*) {
        ++before;
        m_wav->SetEventAlias(m_wav->EventAlias() + "x"); // replays while playing
        m_wav->SetLooped(!m_wav->Looped());              // stops, replays when looped
    });
    m_wav->SetOnPlayAfter([&](QObject*) {
        ++after;
        m_wav->SetNoWaitIfBusy(!m_wav->NoWaitIfBusy());
    });
    m_wav->Play();
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    EXPECT_FALSE(m_wav->Playing());
    EXPECT_LE(m_calls->size(), 8u);
    // Outside the events, changing the alias stops the sound.
    m_calls->clear();
    m_wav->SetEventAlias("Other");
    ASSERT_EQ(m_calls->size(), 1u);
    EXPECT_TRUE(m_calls->front().Stop);
}

} // namespace

#include "support/components/QtSoundBackEnd.h"

namespace {

TEST(QtSoundBackEndTest, SoundsThatCannotBeFoundPlayNothing)
{
    test::TestEnv env;
    const QByteArray oldDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(env.Work() + "nothing"));
    QtSoundBackEnd backEnd;
    const std::uint32_t quiet = SND_ASYNC | SND_NODEFAULT;
    EXPECT_FALSE(
        backEnd.PlaySound({QString::fromStdString(env.Work() + "missing.wav"), {}, quiet | SND_FILENAME}));
    EXPECT_FALSE(backEnd.PlaySound({"NoSuchResource", {}, quiet | SND_RESOURCE, true}));
    EXPECT_FALSE(backEnd.PlaySound({"SystemHand", {}, quiet | SND_ALIAS}));
    EXPECT_TRUE(QtSoundBackEnd::AliasFile("SystemHand").isEmpty());
    backEnd.StopSound();
    qputenv("XDG_DATA_DIRS", oldDirs);
}

} // namespace
