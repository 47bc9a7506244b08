#pragma once

#include <string>

class QObject;

namespace morvane {

// Moving a window's texts and layout to and from INI files.
//
// A window and its components are walked through the QObject tree in child order; an
// object's Name is its objectName. The texts are "Caption" (window title, label and
// button text, group box and menu title, tab text, action text) and "Hint" (tool tip;
// for actions the status tip, which applying also makes the tool tip). The layout
// values are the whole-number and on/off properties: for widgets Left, Top, Width,
// Height, Enabled, Visible and, for windows, WindowState (0 normal, 1 minimized,
// 2 maximized); for actions Enabled, Visible, Checked; then, for any object, its own
// Q_PROPERTYs of integer, boolean or enumeration type whose names begin with a capital.
// A Q_PROPERTY named Caption or Hint of text type is used in place of the built-in text.
//
// Skipping: an object without a Name, or with a toolkit-internal one ("qt_..."),
// contributes nothing, and neither do the objects below it; only plain containers (a
// bare QWidget or QFrame, layouts, splitters, stacks, scroll areas, group boxes, tab
// widgets, tool bars, menu bars, status bars, dock widgets) are passed through, because
// they only arrange what is placed on them. An object with none of the properties above
// is skipped with what is below it. A window below the form (a dialog it owns) is left
// out with what is below it: it has a section of its own. A tool button bound to an action writes nothing
// (the action carries the texts). Texts holding line breaks cannot be stored on one INI
// line and are not written. Main thread; each call opens the file once and closes it.

// Marks an object whose texts the program sets while it runs (a count, a path, a
// version): they are no captions, so language files neither give nor take them. What is
// below the object is walked as before.
void MarkRunTimeText(QObject* object);

// Sets Caption and Hint of form and its components from the section named after form;
// keys are "<Name>.Caption" and "<Name>.Hint". An absent key, file or section leaves the
// text as it is. The object named "Form1" keeps its own texts. When fileName is a user's
// language file, the shipped file of its language is applied first, so the user's keys
// win and the rest come from the install.
void ApplyFormLanguage(const std::string& fileName, QObject* form);

// Writes the non-empty texts (not "-") the same way; keys already in the file for texts
// that are now empty stay. Throws IniWriteError ("Unable to write to <file>") when the
// file cannot be written; then nothing of this call is written.
void SaveFormLanguage(const std::string& fileName, QObject* form);

// Sets control's layout values (and, with recurse, those of the objects below it) from
// the section named after control; keys are "<Name>.<Property>". An absent key or a
// value that is no whole number, or out of range for the property, leaves it as it is.
void LoadControlLayout(const std::string& fileName, QObject* control, bool recurse);

// Writes the same values; Visible of the object named "Form1" is left out. Throws
// IniWriteError as SaveFormLanguage.
void SaveControlLayout(const std::string& fileName, QObject* control, bool recurse);

} // namespace morvane
