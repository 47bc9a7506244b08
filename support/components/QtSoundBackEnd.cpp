#include "QtSoundBackEnd.h"

#include <QApplication>
#include <QAudioOutput>
#include <QBuffer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QStandardPaths>
#include <QUrl>

namespace morvane {

namespace {

// The event aliases of the other desktops and the sound theme names that mean the same.
struct AliasName
{
    const char* Alias;
    const char* ThemeName;
};
constexpr AliasName kAliases[] = {
    {".Default", "bell"},
    {"SystemDefault", "bell"},
    {"SystemAsterisk", "dialog-information"},
    {"SystemExclamation", "dialog-warning"},
    {"SystemHand", "dialog-error"},
    {"SystemQuestion", "dialog-question"},
    {"SystemStart", "service-login"},
    {"SystemExit", "service-logout"},
    {"MailBeep", "message-new-email"},
    {"SystemNotification", "message"},
    {"DeviceConnect", "device-added"},
    {"DeviceDisconnect", "device-removed"},
};

} // namespace

QtSoundBackEnd::QtSoundBackEnd(QObject* parent) : QObject(parent) {}

QtSoundBackEnd::~QtSoundBackEnd()
{
    StopSound();
}

QString QtSoundBackEnd::AliasFile(const QString& alias)
{
    QString themeName = alias;
    for (const AliasName& entry : kAliases)
        if (alias.compare(QLatin1String(entry.Alias), Qt::CaseInsensitive) == 0)
            themeName = QLatin1String(entry.ThemeName);
    for (const char* ext : {".oga", ".ogg", ".wav"}) {
        const QString file = QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                    "sounds/freedesktop/stereo/" + themeName + ext);
        if (!file.isEmpty())
            return file;
    }
    return {};
}

bool QtSoundBackEnd::IsPlaying() const
{
    return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
}

void QtSoundBackEnd::StopSound()
{
    if (m_player)
        m_player->stop();
}

bool QtSoundBackEnd::PlaySound(const SoundRequest& request)
{
    if ((request.Flags & SND_NOSTOP) && IsPlaying())
        return false;
    if (request.Name.isEmpty() && request.Data.isEmpty() && !(request.Flags & SND_MEMORY)) {
        // No sound named: stop what plays, as a request for nothing does.
        StopSound();
        return true;
    }
    QUrl url;
    QByteArray bytes;
    if ((request.Flags & SND_MEMORY) == SND_MEMORY && !(request.Flags & SND_ALIAS) &&
        (request.Flags & SND_RESOURCE) != SND_RESOURCE) {
        bytes = request.Data;
    } else if ((request.Flags & SND_RESOURCE) == SND_RESOURCE) {
        for (const QString& path : {":/" + request.Name, ":/" + request.Name + ".wav"})
            if (QFileInfo::exists(path)) {
                url = QUrl("qrc" + path);
                break;
            }
    } else if (request.Flags & SND_ALIAS) {
        const QString file = AliasFile(request.Name);
        if (!file.isEmpty())
            url = QUrl::fromLocalFile(file);
    } else if (QFileInfo(request.Name).isFile()) {
        url = QUrl::fromLocalFile(request.Name);
    }
    if (url.isEmpty() && bytes.isEmpty()) {
        if (!(request.Flags & SND_NODEFAULT))
            QApplication::beep();
        return false;
    }
    if (!m_player) {
        m_output = std::make_unique<QAudioOutput>();
        m_player = std::make_unique<QMediaPlayer>();
        m_player->setAudioOutput(m_output.get());
    }
    m_player->stop();
    if (!bytes.isEmpty()) {
        // The player reads from this buffer while it plays: it holds its own copy.
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(bytes);
        buffer->open(QIODevice::ReadOnly);
        m_player->setSourceDevice(buffer.get());
        m_buffer = std::move(buffer);
    } else {
        m_player->setSource(url);
        m_buffer.reset();
    }
    m_player->setLoops((request.Flags & SND_LOOP) ? QMediaPlayer::Infinite : 1);
    m_player->play();
    if (!(request.Flags & SND_ASYNC) && !(request.Flags & SND_LOOP)) {
        QEventLoop loop;
        connect(m_player.get(), &QMediaPlayer::playbackStateChanged, &loop,
                [&loop](QMediaPlayer::PlaybackState s) {
                    if (s != QMediaPlayer::PlayingState)
                        loop.quit();
                });
        connect(m_player.get(), &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
        if (IsPlaying())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return m_player->error() == QMediaPlayer::NoError;
}

} // namespace morvane
