#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace orvik {

// The tool's pictures, drawn at start-up so that no image file has to ship with it.

// The hand-held radio shown in the information panel, on a transparent background.
QPixmap radioPicture();

// The start-up picture with the product name and the version text.
QPixmap splashPicture(const QString& productName, const QString& subtitle, const QString& version,
                      const QString& legalLine);

// The window icon, in the usual sizes.
QIcon applicationIcon();

// The icons of the message box, one per kind of message.
enum class MessageIcon { None, Exclamation, Hand, Asterisk, Question };
QPixmap messageIcon(MessageIcon kind, int size = 32);

}  // namespace orvik
