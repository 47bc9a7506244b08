#pragma once

#include "TkitWav.h"

#include <QObject>
#include <memory>

class QAudioOutput;
class QBuffer;
class QMediaPlayer;

namespace morvane {

// The sound device of the programs, over Qt Multimedia. Files play from disk; kept bytes
// from the back end's own copy; resources from the program's Qt resources (":/" + name,
// also with ".wav"); aliases from the desktop's sound theme (freedesktop names under
// $XDG_DATA_DIRS/sounds). A sound that cannot be found rings the bell unless
// SND_NODEFAULT is set. Without SND_ASYNC the call waits for the end of the sound, except
// with SND_LOOP, which could never end. Main thread.
class QtSoundBackEnd : public QObject, public SoundBackEnd
{
    Q_OBJECT

public:
    explicit QtSoundBackEnd(QObject* parent = nullptr);
    ~QtSoundBackEnd() override;

    bool PlaySound(const SoundRequest& request) override;
    void StopSound() override;

    // The theme file an alias maps onto ("" when none is installed).
    static QString AliasFile(const QString& alias);

private:
    bool IsPlaying() const;

    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QMediaPlayer> m_player;
    std::unique_ptr<QBuffer> m_buffer; // the bytes playing now, owned here
};

} // namespace morvane
