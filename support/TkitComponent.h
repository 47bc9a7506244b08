#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

namespace morvane {

// Base of every component of the library: a QObject whose objectName is the component's
// Name, with one published text property About that is never stored and does nothing.
// Components live on the main thread.
class TkitComponent : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString About READ About WRITE SetAbout STORED false)

public:
    using ExceptionHandler = std::function<void(QObject* sender, const std::string& message)>;

    explicit TkitComponent(QObject* owner = nullptr);

    QString About() const { return {}; }
    void SetAbout(const QString&) {}

    // Where errors raised inside event handlers end up (the program shows or logs them).
    // Without an installed handler they are logged as warnings. Main thread.
    static void SetExceptionHandler(ExceptionHandler handler);
    static void HandleException(QObject* sender, const std::string& message);
};

} // namespace morvane
