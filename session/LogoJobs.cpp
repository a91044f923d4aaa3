#include "LogoJobs.h"

namespace kkm {

bool LogoUploadJob(TJobContext& job, std::uint8_t kind, std::uint8_t bytesPerRow,
                   const std::vector<TArrayOfByte>& rows)
{
    job.Line(QStringLiteral("Запись изображения ..."), TLineKind::Progress);
    TOmvekCP& p = job.Protokol();
    const QString failed = QStringLiteral("Ошибка записи строки изображения. ");
    const auto count = static_cast<int>(rows.size());
    // Rows after a refused header would only leave a half image behind.
    std::int32_t r = p.SendLogoHeader(RegisterAddress, PcAddress, kind, bytesPerRow,
                                      static_cast<std::uint8_t>(count));
    if (r != 0) {
        job.Failure(r);
        job.Line(failed + TOmvekCP::ErrorText(r), TLineKind::Error);
        return false;
    }
    for (int number = 1; number <= count; ++number) {
        job.Progress(number, 1, count);
        r = p.SendLogoRow(RegisterAddress, PcAddress, static_cast<std::uint8_t>(number),
                          rows[static_cast<std::size_t>(number - 1)]);
        if (r != 0) {
            job.Failure(r);
        job.Line(failed + TOmvekCP::ErrorText(r), TLineKind::Error);
            return false;
        }
    }
    job.Line(QStringLiteral("Запись изображения завершена."), TLineKind::Progress);
    return true;
}

} // namespace kkm
