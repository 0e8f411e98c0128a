#pragma once
// The widget side of language files: the list-like properties of widgets a language file may
// set, applying the chosen language to open windows, and the language menu.
//
// List-like properties, set part by part with the file's separator:
// - "Items": the entries of a combo box or list widget, the nodes of a tree widget (by absolute
//   index, depth first), or the radio buttons of any other widget (a radio group), in order;
// - "Columns": the column captions of a list, tree or table view;
// - "tabText" (a single text): the caption of a page of a tab widget.
// Everything else is an ordinary Qt property (text, title, toolTip, windowTitle, ...).

#include <QString>

#include <functional>
#include <initializer_list>

class QMenu;
class QWidget;
class TLanguage;

// Registers the widget properties above (once; later calls do nothing).
void RegisterWidgetLanguageProperties();

// The language component of a window: the last TLanguage among its children, or nullptr.
TLanguage* FindLanguageComponent(QWidget* Window);

// Applies the chosen language to one window (through its language component).
void ApplyLanguageToWindow(QWidget* Window);
// Applies the chosen language to every top-level window of the application.
void ApplyLanguageToAllWindows();

// What the language menu needs from the main window.
struct TLanguageMenuActions {
    // Asks a yes/no question; true for yes. Empty: the program's question box.
    std::function<bool(const QString& Text)> Ask;
    // Closes and starts the program again (going back to the built-in language).
    std::function<void()> Restart;
};

// Fills Menu with "Default (Russian)", a separator and one checkable item per listed language
// (checked when its file is the chosen one). Choosing a language stores and saves the choice
// and applies it to every open window; choosing the built-in language while a file is chosen
// asks the "NeedRestart" question and, on yes, clears and saves the choice and restarts.
void FillLanguageMenu(QMenu* Menu, TLanguageMenuActions Actions);

// The program's message box. Its caption is the name of its type in the message table
// ("Attention", "Warning", "Error", "Information", "Question"; none for None) and its buttons
// carry the message table's texts, so the box speaks the interface's language.
enum class TMessageBoxType { None = 0, Default = 1, Warning = 2, Error = 3, Information = 4, CriticalError = 5, Question = 6 };
// The buttons and what the box returns for them.
enum TMessageBoxButton { mbOK = 1, mbCancel = 2, mbYes = 6, mbNo = 7 };

// Shows the box modally with the buttons in the order given (OK alone when none); Default is
// the button Enter chooses (the first when 0). Returns the button chosen; closing the box
// (Escape) gives Cancel when it has one, else No when it has one, else the only button.
int ShowMessageBox(QWidget* Parent, TMessageBoxType Type, const QString& Text, std::initializer_list<int> Buttons = {},
                   int Default = 0);

// A question with Yes and No. True for yes.
bool AskQuestion(QWidget* Parent, const QString& Text);
