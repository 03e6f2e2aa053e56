#include "ui/AboutWindow.h"

#include "ui/Twips.h"
#include "ui/Widgets.h"

#include <QPushButton>

namespace velmoran {

namespace {

const char* const CreditsText =
    "This program will let you Launch any mod , or test your mods , it can generate bin files "
    "using the -txt and -direct options , or you can run Diablo II in a window using the -w "
    "option. i would like to thank Brindlecove , Ostrevin  , Quorvane and Halmerick thanks to "
    "Plenwick for helping me with registry issue and Varnhoe for all the testing , you should "
    "use this tool at own risk!!";

} // namespace

QString versionCaption()
{
    return QStringLiteral("Version ") + QString::fromLatin1(VELMORAN_VERSION);
}

AboutWindow::AboutWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Orvick's Velmoran"));
    setFixedSize(twipsToPixels(4680), twipsToPixels(2850));

    // Labels first, below every other control; Label3 after Label1, so above it.
    placed(makeLabel(QStringLiteral("Orvick's Velmoran"), this), "Label1", 1080, 240, 2535, 375);
    placed(makeLabel(versionCaption(), this), "Label3", 1680, 480, 1215, 375);
    placed(makeLabel(QString::fromLatin1(CreditsText), this), "Label2", 120, 960, 4455, 1335);
    placed(makeLabel(QStringLiteral("Later All , Orvick"), this), "Label4", 1320, 2400, 1215, 495);
    // Then the others in tab order, each later one above the earlier ones. The picture
    // boxes take no focus, so the window opens with the focus on its only button.
    placed(makePictureBox(this), "Picture1", 480, 120, 615, 495);
    placed(makePictureBox(this), "Picture2", 3600, 120, 615, 495);
    m_cmdWhatever = placed(new QPushButton(QStringLiteral("Whatever"), this), "cmdWhatever", 2880,
                           2280, 1215, 495);
    m_cmdWhatever->setAutoDefault(false);
    m_cmdWhatever->setDefault(false);

    connect(m_cmdWhatever, &QPushButton::clicked, this, &QWidget::close);

    m_cmdWhatever->setFocus();
    centreOnScreen(this);
}

} // namespace velmoran
