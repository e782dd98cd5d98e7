#include "app/window/refusal_box.h"

#include "app/core/program.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>

namespace tarvelo::app {

bool displayAvailable()
{
    const QString platform = QGuiApplication::platformName();
    return !platform.isEmpty() && platform != u"offscreen" && platform != u"minimal";
}

void showRefusal(const QString& text, std::chrono::milliseconds wait)
{
    QMessageBox box(QMessageBox::Critical, kTitle + versionCaption(kVersion), text, QMessageBox::Ok);
    box.setLayoutDirection(Qt::RightToLeft);
    QTimer::singleShot(wait, &box, [&box] { box.done(QMessageBox::Ok); });
    box.exec();
}

}  // namespace tarvelo::app
