#pragma once

#include <QCheckBox>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QStyledItemDelegate>

#include <vector>

namespace velmoran {

// Check-box values as the program knows them (0 unticked, 1 ticked, 2 greyed) and Qt's
// states (whose numbers differ: PartiallyChecked is 1, Checked is 2). The one place
// where the two meet.
int checkValueOf(Qt::CheckState state);
Qt::CheckState checkStateOf(int value);

// The program icon (32 x 32) and a picture box that shows it unscaled at its top-left.
QPixmap programPixmap();
QIcon programIcon();
QLabel* makePictureBox(QWidget* parent);

// The link pointer: a pointing hand (ui/assets/link.cur, its 32 x 32 image) with its hot
// spot at the finger tip, as the file gives it.
QCursor linkPointer();

// A label that shows its caption character for character, wrapped inside its rectangle
// from the top-left, as the window designs draw labels.
QLabel* makeLabel(const QString& caption, QWidget* parent);

// The link label: highlight colour, underlined, the link pointer; a click emits clicked().
class LinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LinkLabel(const QString& caption, QWidget* parent = nullptr);
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

// Makes "MS Sans Serif" 8.25 pt the application's font, or where that face is missing the
// closest sans serif at the same size, so that every caption fits its rectangle as designed.
// Where the system has none of the fitting faces, the fonts in the folder "fonts" beside the
// program are added first: the self-contained Linux bundle ships Liberation Sans there.
void useDesignFont();

// The first of the faces whose captions fit as designed ("MS Sans Serif", "Microsoft Sans
// Serif", "Liberation Sans", "Arial") among the families given, or empty text.
QString designFontFamily(const QStringList& families);

// Adds every TrueType or OpenType font file in a folder to the program's fonts; gives the
// families added (none for a missing folder).
QStringList addFontsFrom(const QString& folder);

// Puts a top-level window in the middle of its screen.
void centreOnScreen(QWidget* window);

// Draws list entries as the list's own delegate does, and works out each entry's size once:
// a list view lays out all of its entries again whenever entries are added, which for
// thousands of found archives would shape the same texts over and over. The sizes are kept
// by row and forgotten whenever the entries change other than by rows added at the end.
class OnceSizedItemDelegate : public QStyledItemDelegate
{
public:
    explicit OnceSizedItemDelegate(QAbstractItemView* view);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    void forget() const;

    mutable std::vector<QSize> m_sizes; // by row; an invalid size is not worked out yet
    mutable QFont m_font;               // the sizes hold for this font and icon size
    mutable QSize m_decorationSize;
};

} // namespace velmoran
