// The main window: a folder tree and a file list on top, and below them the pages that show
// and edit what the selected MP3 file carries (ID3v1, ID3v2, lyrics, the MPEG stream), the
// About page and the page about the command-line tool.
#pragma once

#include "app/FormSeam.h"
#include "app/SplitGroupBox.h"

#include <QMainWindow>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QCloseEvent;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace cantorell {

class TDID3v2;
class TFileListBox;
class TElFormPersist;
class TElIniFile;
class TFolderTree;
class TID3v1;
class TMPEGaudio;
class TMyOptions;
class TPictureBox;

// Where the About page's link leads. Until the project has a web page of its own, the link
// opens the program's README (beside a build, or the installed copy).
inline constexpr const char* ProductWebPage = "";

// Pages of PageControl, in order.
enum TFormPage {
    fpID3v1 = 0,
    fpID3v2 = 1,
    fpLyrics = 2,
    fpMPEG = 3,
    fpAbout = 4,
    fpOurSoftware = 5
};

class TFormMain : public QMainWindow {
    Q_OBJECT

public:
    // `seam` (kept, not owned; the real one when null) carries every modal interaction.
    // `settingsFolder` holds "VizErir.ini"; empty means where the program keeps it, beside
    // a portable copy or in the user's configuration folder (tests give a folder of their
    // own).
    explicit TFormMain(TFormSeam* seam = nullptr, QWidget* parent = nullptr,
                       const QString& settingsFolder = QString());
    ~TFormMain() override;

    // Child widgets, named as in the layout (each also carries its name as objectName).
    TFolderTree* FolderTree1 = nullptr;
    TFileListBox* FileListBox = nullptr;
    TSplitGroupBox* GroupBoxExplorer = nullptr;
    QGroupBox* GroupBoxEditor = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QLabel* Panel1 = nullptr;
    QTabWidget* PageControl = nullptr;
    QLabel* LB1INFO = nullptr;
    QLineEdit* Ed1Title = nullptr;
    QLineEdit* Ed1Album = nullptr;
    QLineEdit* Ed1Artist = nullptr;
    QLineEdit* Ed1Track = nullptr;
    QLineEdit* Ed1Year = nullptr;
    QLineEdit* Ed1Comment = nullptr;
    QComboBox* Ed1Genre = nullptr;
    QToolButton* btSAVE = nullptr;
    QToolButton* btREMOVEv1 = nullptr;
    QLabel* LB2INFO = nullptr;
    QLineEdit* Ed2Title = nullptr;
    QLineEdit* Ed2Album = nullptr;
    QLineEdit* Ed2Artist = nullptr;
    QLineEdit* Ed2Track = nullptr;
    QLineEdit* Ed2Year = nullptr;
    QComboBox* Ed2Genre = nullptr;
    QPlainTextEdit* Ed2Comment = nullptr;
    // The pictures of the ID3v2 tag, beside its fields.
    TPictureBox* Pictures = nullptr;
    QToolButton* SpeedButton8 = nullptr;
    QToolButton* btREMOVEv2 = nullptr;
    QToolButton* btLyrCopy = nullptr;
    QToolButton* btLyrSaveAs = nullptr;
    QPlainTextEdit* Ed2Lyrics = nullptr;
    QPlainTextEdit* MemoInfo = nullptr;
    QLabel* LB_PNM = nullptr;
    QLabel* LB_VER = nullptr;
    QLabel* LB_LINK = nullptr;
    QStatusBar* StatusBar1 = nullptr;

    // A memo's whole text: its lines joined by CR LF; empty for an empty memo.
    static QString MemoText(const QPlainTextEdit* memo);
    // Whether the memo's text differs from what showing `shown` (UTF-8) in it gives.
    static bool MemoEdited(const QPlainTextEdit* memo, const std::string& shown);
    // The small path field above the folder tree (Ctrl+L): a typed or pasted folder or file
    // is opened with Enter.
    QLineEdit* EdPath = nullptr;

    // Opens a folder (selected in the tree when it is shown there, and listed) or a file (its
    // folder, then the file is selected and shown). False when nothing is there, the file is
    // not one the list shows, or the user kept unsaved edits of the shown file (Cancel).
    bool OpenPath(const QString& path);
    // The file whose pages are shown; empty when none is.
    const QString& ShownFile() const { return ShownPath; }
    // Whether the user changed fields of the shown file's pages since they were read.
    bool HasUnsavedChanges() const;
    // The address the About page's link opens.
    static QUrl ProductPageAddress();

public slots:
    void FolderTree1Change();
    void FileListBoxChange();
    void btSAVEClick();
    void SpeedButton8Click();
    void btREMOVEv1Click();
    void btREMOVEv2Click();
    // Both lyrics buttons; the sender's "tag" property chooses: 1 copy, 2 save to file.
    void btLyrCopyClick();
    void LB_LINKClick();
    void lbDemoClick();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void FormActivate();
    void ClearFields();
    void ClearID3v1Page();
    void ClearID3v2Page();
    void ShowID3v2(const QString& path);
    void ShowID3v1(const QString& path);
    void ShowStreamInfo(const QString& path);
    // Each returns whether the tag was written; a failure is reported and the pages keep
    // what the user typed.
    bool SaveID3v1(const QString& path);
    bool SaveID3v2(const QString& path);
    // After a save or removal: the stream summary and the page of that tag are read again;
    // the other tag's page keeps its edits.
    void ReloadPage(TFormPage page);
    void SaveLyricsToFile();
    void RemoveTag(const std::function<bool(const std::string&)>& remove, const QString& failure,
                   TFormPage page);
    // The file list's selection changed: asks about unsaved edits, then shows the file.
    void FileListBoxSelect();
    // Asks "Save the changes to <file>?" when the shown file has unsaved edits. True when
    // the window may go on to another file or folder (or close).
    bool ConfirmLeave();
    // Lists a folder and selects its node in the tree when the tree shows it.
    void ShowFolder(const QString& folder);
    // F5: the folder and the shown file read again (asking about unsaved edits first).
    void ReloadAll();
    void SaveShownPage();
    void UpdateCommands();
    QStringList ID3v1Fields() const;
    QStringList ID3v2Fields() const;
    // Whether the ID3v2 page's fields or pictures differ from what was read.
    bool ID3v2Edited() const;
    // An error without a file's reason (an exception's text, a settings failure), under
    // the warning icon.
    void ShowError(const QString& text);
    // A failure of an operation on `path`: `message` + path, with the system's reason (from
    // the file's state or `error`, an errno value) on a second line, under the warning icon.
    void ShowFailure(const QString& message, const QString& path, int error,
                     const std::string& note = std::string());
    // Runs a handler; an exception it throws is shown in a message box instead of reaching
    // Qt's event loop.
    template <typename F> void Guarded(F handler);

    void BuildLayout();
    // The folder tree and the file list side by side (`width` shared between them), under
    // the path field.
    void BuildExplorer(int width);
    // The shown file's name above the pages.
    void BuildEditor();
    void BuildPersistence();
    void ConnectCommands();
    // Makes the edit boxes of tag page 1 (ID3v1) or 2 (ID3v2).
    void MakeTagEdits(QWidget* fields, int page);
    QWidget* BuildID3v1Page();
    QWidget* BuildID3v2Page();
    QWidget* BuildLyricsPage();
    QWidget* BuildMpegPage();
    QWidget* BuildAboutPage();
    QWidget* BuildOurSoftwarePage();

    std::unique_ptr<TFormSeam> FOwnSeam;
    TFormSeam* Seam;
    std::unique_ptr<TDID3v2> TagV2;
    std::unique_ptr<TID3v1> TagV1;
    std::unique_ptr<TMPEGaudio> MpegAudio;
    // Set at the end of FormCreate; the first activation then clears the pages.
    bool FormReady = false;
    bool FirstActivationDone = false;

    // The file whose pages are shown, what each tag page held when it was read (to tell
    // edits), and whether each tag exists in it (Remove is offered only then).
    QString ShownPath;
    QStringList ID3v1Loaded;
    QStringList ID3v2Loaded;
    bool ID3v1Exists = false;
    bool ID3v2Exists = false;
    // Set while the window itself moves the tree's selection.
    bool SelectingFolder = false;
    // What the ID3v1 object said about a failed removal.
    std::string RemoveNote;

    // Settings: the options store on "VizErir.ini", the component that keeps the window's
    // placement and the two pane sizes in it, and the application options.
    QString SettingsFolder;
    std::unique_ptr<TElIniFile> OptionsIni;
    TElFormPersist* ElFormPersist1 = nullptr; // a child of the window
    std::unique_ptr<TMyOptions> AppOptions;

public:
    TElIniFile* Options() const { return OptionsIni.get(); }
    TElFormPersist* FormPersist() const { return ElFormPersist1; }
    TMyOptions* ApplicationOptions() const { return AppOptions.get(); }
    // The options file's full path.
    QString OptionsPath() const;
};

// Here rather than in one source file: the window's code is spread over several files, and
// each runs its handlers through this.
template <typename F> void TFormMain::Guarded(F handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowError(QStringLiteral("An unexpected error occurred."));
    }
}

} // namespace cantorell
