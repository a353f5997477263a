// The two blocks that several option sheets share: the automatic save of captures or received
// pictures, and the sound played when something arrives.
#pragma once

#include <QList>
#include <QString>

class ModZorvin;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class SheetSave;

// Type, prefix, folder and fixed-name box of one automatic save, with the name preview.
class AutoSaveBlock
{
  public:
    // `enabled` is the sheet's own check box, made before the block so that it comes first.
    QGroupBox *build(QWidget *page, QCheckBox *enabled, bool capture, const ModZorvin &ctx);
    // The enabling rule of the block and the preview of the file name.
    void update();
    // An automatic save into a folder that is not there is offered to make it; declined, the
    // folder stays as typed (the save names it when it fails). False when it cannot be made.
    bool offerMissingFolder(const QString &sheet, SheetSave &save);

    QCheckBox *enabled = nullptr;
    QGroupBox *typeFrame = nullptr;
    QButtonGroup *type = nullptr;
    QLineEdit *name = nullptr;
    QLineEdit *place = nullptr;
    QPushButton *browse = nullptr;
    QCheckBox *nameConst = nullptr;
    QLabel *preview = nullptr;

  private:
    const ModZorvin *m_ctx = nullptr;
    QList<QWidget *> m_labels;
    bool m_received = false;
};

// None, beep or a wave file, with its path and its browse and play buttons.
class SoundBlock
{
  public:
    // `prefix` names the controls ("Pic" gives OptRPicSound, TxtRPicWavPath, ...).
    QGroupBox *build(QWidget *page, const QString &prefix, const QString &title);
    void update();

    QButtonGroup *options = nullptr;
    QLineEdit *path = nullptr;
    QPushButton *browse = nullptr;
    QPushButton *play = nullptr;

  private:
    void browseSound(QWidget *page, const QString &title);
};
