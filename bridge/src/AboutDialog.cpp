#include "AboutDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "BridgeDialogs.h"
#include "BridgeTexts.h"

namespace tbm::bridge {

AboutDialog::AboutDialog(const res::ResourceLibrary& texts, QWidget* parent) : QDialog(parent) {
  setWindowTitle(BridgeString(texts, kTextAboutTitle));
  auto* text = new QLabel(
      BridgeMessage(
          texts, kTextAboutBody,
          {res::MessageArgument::Text(QString::fromLatin1(kBridgeVersion).toStdU16String())}),
      this);
  text->setObjectName("aboutText");
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  text->setMinimumWidth(360);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close =
      buttons->addButton(BridgeString(texts, kTextClose), QDialogButtonBox::AcceptRole);
  close->setObjectName("closeButton");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(buttons);
}

}  // namespace tbm::bridge
