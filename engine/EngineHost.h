#pragma once

#include <functional>
#include <string>

namespace morvane {

enum class BoxKind
{
    Information,
    Confirmation,
    Warning,
    Error
};
enum class BoxButtons
{
    Ok,
    YesNo
};
enum class BoxAnswer
{
    Ok,
    Yes,
    No
};

// What the engine needs of the program that hosts it. The agent implements it over its
// hidden main window and tray icon; tests use a scripted host. Every method but
// PostToMainThread and IsMainThread is called on the main thread only.
class EngineHost
{
public:
    virtual ~EngineHost() = default;

    // The main window around the engine's message boxes.
    virtual void ShowMainWindow() = 0;
    virtual void BringMainWindowToFront() = 0;
    virtual void HideMainWindow() = 0;

    // The tray balloon after a version.
    virtual void SetBalloonTitle(const std::string& title) = 0;
    virtual void SetBalloonText(const std::string& text) = 0;
    virtual void ShowBalloon() = 0;

    // Tray image: 1 busy, 0 idle.
    virtual void SetTrayImage(int index) = 0;

    // A modal message box; returns the button pressed.
    virtual BoxAnswer ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons) = 0;

    // Queues fn to run on the main thread and returns at once. Any thread.
    virtual void PostToMainThread(std::function<void()> fn) = 0;
    virtual bool IsMainThread() const = 0;
};

} // namespace morvane
