// brin2: the desktop client.
#include "Brin2App.h"

int main(int argc, char** argv) {
    Brin2App app(argc, argv);
    return app.InitInstance() ? 0 : 1;
}
