#include "LogoUpload.h"

#include "LogoFrame.h"
#include "LogoRows.h"

#include <QFileInfo>

TLogoLoad LoadLogoPicture(const QString& path, TSourcePicture& picture, QString& error)
{
    const TPictureFormat format = PictureFormatOfPath(path);
    if (format == TPictureFormat::Unsupported) {
        error = QStringLiteral("Неподдерживаемый тип файла");
        return TLogoLoad::Unsupported;
    }
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        error = QStringLiteral("Файл не найден");
        return TLogoLoad::Missing;
    }
    return LoadSourcePicture(path, format, picture, error) ? TLogoLoad::Ok : TLogoLoad::Failed;
}

TLogoSettings LoadedLogoSettings(const TSourcePicture& picture)
{
    TLogoSettings s;
    s.Fill.Contrast = 50;
    s.Fill.ScaleH = 10;
    s.Fill.ScaleV = 10;
    s.Width = InitialFrameWidth(picture.Width);
    s.Height = InitialFrameHeight(picture.Height);
    return s;
}

QString CheckLogoFrame(int left, int top, int width, int height)
{
    const TSliderRange w = FrameSliderRange(TFrameSlider::Width);
    const TSliderRange h = FrameSliderRange(TFrameSlider::Height);
    const TSliderRange l = FrameSliderRange(TFrameSlider::Left);
    const TSliderRange t = FrameSliderRange(TFrameSlider::Top);
    if (width < w.Min || width > w.Max || width % 8 != 0)
        return QStringLiteral("Ширина области должна быть кратной 8, от %1 до %2").arg(w.Min).arg(w.Max);
    if (height < h.Min || height > h.Max)
        return QStringLiteral("Высота области должна быть от %1 до %2").arg(h.Min).arg(h.Max);
    if (left < l.Min || left > l.Max)
        return QStringLiteral("Отступ слева должен быть от %1 до %2").arg(l.Min).arg(l.Max);
    if (top < t.Min || top > t.Max)
        return QStringLiteral("Отступ сверху должен быть от %1 до %2").arg(t.Min).arg(t.Max);
    if (left + width > LogoPreviewWidth)
        return QStringLiteral("Область выходит за правый край: отступ слева и ширина вместе больше %1")
            .arg(LogoPreviewWidth);
    if (top + height > LogoPreviewHeight)
        return QStringLiteral("Область выходит за нижний край: отступ сверху и высота вместе больше %1")
            .arg(LogoPreviewHeight);
    return QString();
}

QImage RenderLogoPreview(const TSourcePicture& picture, const TLogoSettings& settings, TCopyRect& frame)
{
    QImage preview = NewLogoPreview();
    FillImage(picture, settings.Fill, preview);
    frame = TCopyRect{};
    DrawRect(preview, frame, settings.Left, settings.Top, settings.Width, settings.Height);
    return preview;
}

bool PackLogoUpload(const QImage& preview, const TCopyRect& frame, bool foot, TLogoUpload& upload, QString& error)
{
    const int bytesPerRow = LogoBytesPerRow(frame);
    const int rows = LogoRowCount(frame);
    if (bytesPerRow > 255 || rows > 255) {
        error = QStringLiteral("Копируемая область больше 255 строк или байт");
        return false;
    }
    upload.Kind = foot ? 1 : 0;
    upload.BytesPerRow = static_cast<std::uint8_t>(bytesPerRow);
    upload.Rows = PackLogoRows(preview, frame);
    return true;
}
