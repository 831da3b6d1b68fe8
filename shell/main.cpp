#include "lesson/sound.h"
#include "shell/application.h"
#include "shell/form1.h"

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    lesson::SdlSound sound;
    Form1 window(sound, QCoreApplication::applicationDirPath());
    window.show();
    return app.exitStatus(app.exec());
}
