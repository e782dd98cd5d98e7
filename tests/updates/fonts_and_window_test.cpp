#include "app/download_window.h"
#include "app/fonts.h"
#include "update_world.h"

#include <QFontInfo>
#include <map>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

// The main window's captions as models, with a size and weight of their own.
class Captions : public ::testing::Test {
protected:
    QTemporaryDir config;
    data::IniSettingsStore settings{config.path()};
    std::map<std::pair<QString, int>, std::unique_ptr<app::CaptionModel>> controls;

    void SetUp() override
    {
        ensureApp();
        for (const auto& [name, index] : std::vector<std::pair<QString, int>>{
                 {"Check1", -1}, {"Check3", -1}, {"Check4", -1}, {"Check5", -1}, {"Label3", 0}, {"Label3", 2},
                 {"Label3", 3},  {"Label3", 4},  {"Label3", 5},  {"Label3", 6},  {"Label3", 8}, {"Label3", 9}}) {
            auto caption = std::make_unique<app::CaptionModel>();
            QFont font(QStringLiteral("DejaVu Sans"), 11);
            font.setBold(true);
            caption->setFont(font);
            controls[{name, index}] = std::move(caption);
        }
    }
    app::FontTargets window()
    {
        return [this](const QString& name, int index) -> app::FontTarget* {
            auto it = controls.find({name, index});
            return it == controls.end() ? nullptr : it->second.get();
        };
    }
    QString family(const QString& name, int index) { return controls.at({name, index})->font().family(); }
};

TEST_F(Captions, TheSetTypefaceReachesTheNineControlsOnly)
{
    controls.erase({"Label3", 5});  // a control the window lacks is skipped
    settings.write("Veld", "Settings", "SaveInFont1", "DejaVu Serif");
    app::Read_Fonts(window(), settings);

    for (const auto& [name, index] : std::vector<std::pair<QString, int>>{
             {"Check1", -1}, {"Check3", -1}, {"Check4", -1}, {"Check5", -1}, {"Label3", 2}, {"Label3", 3},
             {"Label3", 4}, {"Label3", 8}}) {
        EXPECT_EQ(family(name, index), "DejaVu Serif") << name.toStdString() << index;
        EXPECT_EQ(controls.at({name, index})->font().pointSize(), 11);
        EXPECT_TRUE(controls.at({name, index})->font().bold());
    }
    for (int index : {0, 6, 9})
        EXPECT_EQ(family("Label3", index), "DejaVu Sans") << index;
}

TEST_F(Captions, NoSettingChangesNothingAndAMissingFamilyFallsBack)
{
    app::Read_Fonts(window(), settings);
    EXPECT_EQ(family("Check1", -1), "DejaVu Sans");

    settings.write("Veld", "Settings", "SaveInFont1", "No Such Typeface 7731");
    app::Read_Fonts(window(), settings);
    EXPECT_EQ(family("Check1", -1), "No Such Typeface 7731");
    const QFontInfo drawn(controls.at({"Check1", -1})->font());
    EXPECT_FALSE(drawn.family().isEmpty());
    EXPECT_NE(drawn.family(), "No Such Typeface 7731");
}

TEST(DownloadWindow, DrawsTheModel)
{
    ensureApp();
    app::DownloadWindowModel model;
    app::DownloadWindow window(model);
    EXPECT_FALSE(window.isVisible());
    model.show();
    EXPECT_TRUE(window.isVisible());
    model.DownloadProgress("50");
    EXPECT_EQ(window.Label1->x(), 3485 / app::DownloadWindow::TwipsPerPixel);
    EXPECT_EQ(window.Label2->text(), "50 %");
    EXPECT_EQ(window.Label2->geometry().right() + 1, window.Label1->x()) << "the text sits at the bar's edge";
    model.close();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
