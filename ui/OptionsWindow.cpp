#include "ui/OptionsWindow.h"

#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QPushButton>

namespace velmoran {

namespace {

const char* const CreateText =
    "The Create button will make the \\data\\global\\excel folders in your D2 folder. if you "
    "then use the -txt option and Launch D2 the bin files will be generated, you can then get "
    "them and insert them in your mpq like you did before. The delete button delete's the bin "
    "files and remove's the \\data\\global\\excel folders. i should note that storm.dll is "
    "copied into the  ..\\data folder please leave it there !!";

} // namespace

OptionsWindow::OptionsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmCreate"));
    setWindowTitle(QStringLiteral("Velmoran"));
    setWindowIcon(programIcon());
    setFixedSize(twipsToPixels(4680), twipsToPixels(2865));

    // The label first, so that every other control lies above it; then the others in tab
    // order, each later one above the earlier ones.
    placed(makeLabel(QString::fromLatin1(CreateText), this), "lblCreate", 120, 840, 4335, 1455);
    m_cmdCreate =
        placed(new QPushButton(QStringLiteral("Create"), this), "cmdCreate", 360, 120, 1215, 495);
    m_cmdDelete =
        placed(new QPushButton(QStringLiteral("Delete"), this), "cmdDelete", 3000, 120, 1215, 495);
    m_cmdDone =
        placed(new QPushButton(QStringLiteral("Done"), this), "cmdDone", 1680, 2280, 1215, 495);
    placed(makePictureBox(this), "Picture1", 2040, 120, 615, 615);

    setTabOrder(m_cmdCreate, m_cmdDelete);
    setTabOrder(m_cmdDelete, m_cmdDone);
    // No default button: Enter and Esc trigger nothing.
    for (QPushButton* button : {m_cmdCreate, m_cmdDelete, m_cmdDone}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    connect(m_cmdCreate, &QPushButton::clicked, this, &OptionsWindow::createClicked);
    connect(m_cmdDelete, &QPushButton::clicked, this, &OptionsWindow::deleteClicked);
    connect(m_cmdDone, &QPushButton::clicked, this, &QWidget::close);

    m_cmdCreate->setFocus();
    centreOnScreen(this);
}

} // namespace velmoran
