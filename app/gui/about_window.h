// The about window TForm2: the product's picture and name, both leading to the project's
// documentation page. Created hidden; the main window shows it modally.
#pragma once

#include <QDialog>
#include <string>

namespace app {

class TForm2 : public QDialog {
  public:
    // pageUrl is the address the picture and the name open.
    explicit TForm2(std::string pageUrl);

  private:
    void FormCreate();
    void Image1Click() const { OpenPage(); }
    void Label2Click() const { OpenPage(); }
    void OpenPage() const;

    std::string pageUrl_;
};

}  // namespace app
