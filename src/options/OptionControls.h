// The pieces the option sheets are built from: named controls as the options dialog names
// them, the key filters of its number and name boxes, its option captions and its pickers.
#pragma once

#include <QObject>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace OptionCaptions {
inline constexpr const char *kSaveTypes[] = {"BMPﾌｧｲﾙ", "LHAﾌｧｲﾙ(BMPをLHAで圧縮)", "JPEGﾌｧｲﾙ", "PNGﾌｧｲﾙ"};
inline constexpr const char *kSaveExtensions[] = {"BMP", "LZH", "JPG", "PNG"};
inline constexpr const char *kNoticeLevels[] = {"表示する", "成功時のみ表示", "失敗時のみ表示", "表示しない"};
inline constexpr const char *kSounds[] = {"なし", "Beep音", "WAVEﾌｧｲﾙ"};
} // namespace OptionCaptions

// The boxes that take digits only, and the file-name prefixes that take letters and digits:
// any other typed character is dropped with a beep. The validator also keeps pasted text out.
class KeyFilter : public QObject
{
  public:
    enum Kind { Digits, LettersAndDigits };
    KeyFilter(QLineEdit *box, Kind kind);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    Kind m_kind;
};

QString u8(const char *text);

// The most characters the dialog takes for the key (its row of the settings table).
int entryLimitOf(const char *key);

QLineEdit *makeBox(QWidget *parent, const char *name, int maxLength = 0);
// A box of `chars` characters that holds a number: as wide as its digits need.
QLineEdit *makeNumberBox(QWidget *parent, const char *name, int chars);
QCheckBox *makeCheck(QWidget *parent, const char *name, const char *caption);
QPushButton *makeButton(QWidget *parent, const char *name, const char *caption);
QLabel *makeLabel(QWidget *parent, const char *text, QWidget *buddy = nullptr);
// An option group: radio buttons named like a control array ("OptRPicSound(2)"), laid out
// in `columns` columns inside `frame`'s grid.
QButtonGroup *makeOptions(QWidget *frame, QGridLayout *grid, const char *name, const char *const *captions,
                          int count, int columns);
QGroupBox *makeFrame(QWidget *parent, const char *title);
// An option group alone in its own frame.
QButtonGroup *makeOptionFrame(QWidget *parent, const char *title, const char *name,
                              const char *const *captions, int count, int columns, QGroupBox **frame);
// A sheet's page: its frames from top to bottom, flush with the sheet's margins.
QVBoxLayout *pageLayout(QWidget *page);

// The folder of a path, "" for none: where the pickers start.
QString dirOf(const QString &path);
// The box text as the settings file would give it back.
QString textOf(const QLineEdit *box);


// Pickers that put their choice into the box and leave it as it is when cancelled.
void browseFolder(QWidget *parent, QLineEdit *box, const QString &prompt);
void browseProgram(QWidget *parent, QLineEdit *box, const QString &title);
