#pragma once
// The tip-of-the-day window: one tip at a time from the shipped "tips.chl", continuing where
// the last showing stopped ("NextTip"), with the start-up switch "ShowTips".
#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPushButton;

class TTipOfDayForm : public QDialog {
    Q_OBJECT
public:
    explicit TTipOfDayForm(QWidget* parent = nullptr);
    ~TTipOfDayForm() override;

    // Tips of "tips.chl": one per line; blank lines and lines starting with ";" are skipped.
    static QStringList LoadTips(const QString& path);

    void NextTipClick();
    QString CurrentTip() const;
    int TipIndex() const { return index; }

    QLabel* lblTip;
    QCheckBox* chkShowTips;
    QPushButton* btnNext;
    QPushButton* btnClose;

protected:
    void done(int r) override;

private:
    void showTip();
    QStringList tips;
    int index = 0;
};
