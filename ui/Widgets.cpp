#include "ui/Widgets.h"

#include "core/MainWindowControls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QtEndian>

// The icon lives in a static library's resources, which must be registered by hand.
static void registerAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace velmoran {

int checkValueOf(Qt::CheckState state)
{
    switch (state) {
    case Qt::Checked:
        return CheckValue::Ticked;
    case Qt::PartiallyChecked:
        return CheckValue::Greyed;
    case Qt::Unchecked:
        break;
    }
    return CheckValue::Unticked;
}

Qt::CheckState checkStateOf(int value)
{
    switch (value) {
    case CheckValue::Ticked:
        return Qt::Checked;
    case CheckValue::Greyed:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

static void registerAssetsOnce()
{
    static const bool registered = (registerAssets(), true);
    (void)registered;
}

QPixmap programPixmap()
{
    registerAssetsOnce();
    return QPixmap(QStringLiteral(":/velmoran/velmoran.png"));
}

QCursor linkPointer()
{
    registerAssetsOnce();
    QFile file(QStringLiteral(":/velmoran/link.cur"));
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer, "cur");
    // The file's directory: 6 bytes, then 16 bytes for each image, the hot spot's x and y
    // at bytes 4 and 6 of its entry. The 32 x 32 image is the pointer at 96 dots per inch.
    for (int i = 0; reader.jumpToImage(i); ++i) {
        const QImage image = reader.read();
        const qsizetype entry = 6 + 16 * qsizetype(i);
        if (image.size() != QSize(32, 32) || bytes.size() < entry + 16)
            continue;
        const auto* hotSpot = reinterpret_cast<const uchar*>(bytes.constData() + entry + 4);
        return QCursor(QPixmap::fromImage(image), qFromLittleEndian<quint16>(hotSpot),
                       qFromLittleEndian<quint16>(hotSpot + 2));
    }
    qWarning("The link pointer could not be read; the system's hand is used instead.");
    return QCursor(Qt::PointingHandCursor);
}

QIcon programIcon()
{
    return QIcon(programPixmap());
}

QLabel* makePictureBox(QWidget* parent)
{
    auto* box = new QLabel(parent);
    box->setPixmap(programPixmap());
    box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QLabel* makeLabel(const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

LinkLabel::LinkLabel(const QString& caption, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setText(caption);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::NoFocus);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colours.color(QPalette::Highlight));
    setPalette(colours);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(linkPointer());
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        emit clicked();
}

QString designFontFamily(const QStringList& families)
{
    for (const char* family :
         {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial"}) {
        if (families.contains(QString::fromLatin1(family)))
            return QString::fromLatin1(family);
    }
    return {};
}

QStringList addFontsFrom(const QString& folder)
{
    QStringList added;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files, QDir::Name);
    for (const QFileInfo& file : files) {
        const int id = QFontDatabase::addApplicationFont(file.filePath());
        if (id == -1) {
            qWarning("The font %s could not be added.", qPrintable(file.filePath()));
            continue;
        }
        for (const QString& family : QFontDatabase::applicationFontFamilies(id))
            if (!added.contains(family))
                added << family;
    }
    return added;
}

void useDesignFont()
{
    QString family = designFontFamily(QFontDatabase::families());
    if (family.isEmpty() &&
        !addFontsFrom(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts")).isEmpty())
        family = designFontFamily(QFontDatabase::families());
    QFont font;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    QApplication::setFont(font);
}

void centreOnScreen(QWidget* window)
{
    window->adjustSize();
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

OnceSizedItemDelegate::OnceSizedItemDelegate(QAbstractItemView* view) : QStyledItemDelegate(view)
{
    QAbstractItemModel* model = view->model();
    const auto forgetSizes = [this] { forget(); };
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first) {
                if (static_cast<std::size_t>(first) < m_sizes.size())
                    forget(); // rows known move down
            });
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, forgetSizes);
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, forgetSizes);
    connect(model, &QAbstractItemModel::rowsAboutToBeMoved, this, forgetSizes);
    connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this, forgetSizes);
    connect(model, &QAbstractItemModel::dataChanged, this, forgetSizes);
    connect(view, &QObject::destroyed, this, forgetSizes);
}

void OnceSizedItemDelegate::forget() const
{
    std::vector<QSize>().swap(m_sizes); // its memory too
}

QSize OnceSizedItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    if (!index.isValid() || index.parent().isValid() || index.column() != 0)
        return QStyledItemDelegate::sizeHint(option, index);
    if (option.font != m_font || option.decorationSize != m_decorationSize) {
        forget();
        m_font = option.font;
        m_decorationSize = option.decorationSize;
    }
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= m_sizes.size())
        m_sizes.resize(row + 1);
    if (!m_sizes[row].isValid())
        m_sizes[row] = QStyledItemDelegate::sizeHint(option, index);
    return m_sizes[row];
}

} // namespace velmoran
