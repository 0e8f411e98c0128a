#include "lang/Lang.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

struct TBuiltInMessage {
    const char16_t* Key;
    const char16_t* Text;
};

// The built-in texts, in their order.
const TBuiltInMessage BuiltInMessages[] = {
    {u"Attention", u"Внимание!"},
    {u"Error", u"Ошибка"},
    {u"Question", u"Вопрос!"},
    {u"Soft", u"Слабо"},
    {u"Medium", u"Норма"},
    {u"Strong", u"Сильно"},
    {u"ErrorLoadingFile", u"Ошибка при загрузке файла. Либо неверный формат файла\r\n\r\nТребования к Файлу: \r\nФормат: WAVE PCM\r\nЧастота дискретизации: 11025, 22050, 44100 кГц\r\nРазмер образца: 16 бит\r\nКаналы: СТЕРЕО\r\nДлительность: <10 сек."},
    {u"SmallFile", u"Для качественного определения необходим файл образца длительностью не менее 1 сек."},
    {u"WrongSample", u"Ошибка загрузки файла образца. Файл не найден либо неверный формат файла."},
    {u"WrongSampleInd", u"Ошибка загрузки файла образца № %d \"%s\""},
    {u"WrongSampleNumber", u"Неверный номер образца."},
    {u"FreqAnalyzerFailed", u"Ошибка инициализации анализатора частотных команд."},
    {u"WrongDetectMode", u"Неверный режим распознавания."},
    {u"UnknownError", u"Неизвестная ошибка!"},
    {u"SampleFound", u"Найден образец № %d \"%s\""},
    {u"SampleNotFound", u"Не найден образец № %d \"%s\""},
    {u"SampleEnabled", u"Включен образец № %d \"%s\""},
    {u"SampleDisabled", u"Отключен образец № %d \"%s\""},
    {u"DeleteSampleS", u"Удалить выбранные образцы без возможности восстановления?"},
    {u"LogError", u"ОШИБКА"},
    {u"LogSample", u"ОБРАЗЕЦ"},
    {u"On", u"ВКЛ"},
    {u"LogCommand", u"КОМАНДА"},
    {u"CommandSent", u"Сообщение о нахождении образца №%d отправлено программе \"%s\""},
    {u"ServerError", u"Невозможно соединиться с сервером."},
    {u"ServerUPDATE", u"Обновление"},
    {u"ServerNOUPDATE", u"Вы используете последнюю версию программы."},
    {u"Maximum", u"Максимум"},
    {u"ErrorInvalidNumber", u"Неверный номер сэмпла"},
    {u"ErrorFileNotFound", u"Фaйл не найден."},
    {u"ErrorFileNotRead", u"Нет доступа на чтение к файлу."},
    {u"ErrorFileNotSample", u"Файл не является образцом."},
    {u"ErrorInSample", u"Ошибка в файле или неверный формат."},
    {u"EmailError", u"Ошибка отправки E-mail"},
    {u"SampleDisable", u"ОТКЛЮЧЕН"},
    {u"SampleEnable", u"ВКЛЮЧЕН"},
    {u"SampleDetect", u"НАЙДЕН"},
    {u"SampleNotDetect", u"НЕ НАЙДЕН"},
    {u"Command", u"КОМАНДА"},
    {u"AudioTested", u"Тестирвание прошло успешно."},
    {u"AudioNotTested", u"Ошибка инициализации захвата звука. Проверьте устройство записи."},
    {u"DefaultDevice", u"Устройство записи по умолчанию"},
    {u"Information", u"Информация"},
    {u"Email", u"E-MAIL"},
    {u"Info", u"ИНФО"},
    {u"EmailSent", u"E-mail сообщение было успешно отправлено."},
    {u"NeedRestart", u"Для завершения операции программа будет автоматически закрыта и запущена заново. Продолжить?"},
    {u"SaveSettingsError", u"Во время сохранения настроек возникли проблемы."},
    {u"Exit", u"Выход"},
    {u"Continue", u"Продолжить"},
    {u"LoadSettingsError", u"Во время загрузки настроек возникли проблемы.\r\nЭто может привести к сбоям в работе программы.\r\nПродолжить?"},
    {u"FolderWriteAccess", u"Для работы приложению необходим доступ на запись в каталог \r\n\"%s\".\r\nЖелаете разрешить пользователям доступ на запись в этот каталог?\r\nДля разрешения потребуются административные права."},
    {u"FolderWriteAccessError", u"Приложению не удалось получить доступ на запись в каталог\r\n\"%s\".\r\nПродолжение работы невозможно."},
    {u"Warning", u"Предупреждение"},
    {u"AddSubscriber", u"Подключено внешнее приложение %s."},
    {u"TestMessage", u"Тестовое сообщение"},
    {u"EmailMessageSent", u"Сообщение отправлено. %s."},
    {u"EmailMessageError", u"Ошибка отправки сообщения. %s."},
    {u"ServerUpdateOpen", u"Перейти на сайт"},
    {u"ServerUpdateDownload", u"Скачать программу установки"},
    {u"ServerUpdateAvailable", u"Доступно обновление программы. \r\nВаша версия: %s\r\nПоследняя версия: %s (выпущена %s)."},
    {u"FolderNotFound", u"Указанная папка не существует."},
    {u"Config_Backup_Done", u"Архивирование данных успешно завершено.\r\nРасположение файла архива:\r\n%s"},
    {u"Config_Reset_Confirm", u"Выполнить сброс выбранных данных на значения по умолчанию? \r\nВнимание! Операцию невозможно отменить.\r\nПосле операции программа будет автоматически перезапущена."},
    {u"Config_Restore_Reset_Confirm", u"Очистить существующие данные во время восстановления?\r\nПосле операции программа будет автоматически перезапущена."},
    // Texts this program adds to the original table.
    {u"ConfigFileNotRead", u"Файл \"%s\" не удалось прочитать при запуске программы, поэтому он не перезаписан."},
    {u"CaptureLost", u"Потерян захват звука с устройства \"%s\". %s"},
    {u"CaptureRestored", u"Захват звука с устройства \"%s\" восстановлен."},
    {u"FileExecuteError", u"Не удалось запустить \"%s\". %s"},
    {u"WeakSample", u"Образец № %d \"%s\" слабо различим (сила %d%%): под другим звуком он может быть пропущен."},
    {u"Yes", u"Да"},
    {u"No", u"Нет"},
    {u"Cancel", u"Отмена"},
    {u"DataSwitchEmpty", u"Ключ /Data= требует имя папки данных, например /Data=/srv/ondrix."},
    {u"NoDisplay", u"нет дисплея для окна (не заданы ни DISPLAY, ни WAYLAND_DISPLAY). Запустите программу в сеансе рабочего стола или как \"ondrix --headless\" для слежения без окна."},
    {u"DataFolderInInstallation", u"Папка данных \"%s\" лежит в папке установленной программы \"%s\". Укажите в /Data= другую папку (относительный путь берётся от текущей папки)."},
    {u"DefaultFolderNotFound", u"Не найдена папка настроек по умолчанию \"%s\". Программа установлена не полностью."},
    {u"FreqIDNotDialable", u"Команду \"%s\" из файла \"%s\" невозможно набрать: её имя пустое или содержит запятую."},
    {u"ClipNothingToRecognise", u"В файле образца нечего распознавать: звук в нём слишком тихий или его нет."},
    {u"NeverFoundNoCommand", u"Образец № %d \"%s\" никогда не будет найден: в нём нет ни одной команды из таблицы частот."},
    {u"UnknownCommands", u"Образец № %d \"%s\": команды %s нет в таблице частот, они пропущены."},
    {u"NeverFoundShortClip", u"Образец № %d \"%s\" никогда не будет найден: файл короче одного блока анализа (%d мс)."},
    {u"AudioDropped", u"Потеряно %d мс звука: обработка не успевала за записью."},
    {u"AnalysisErrors", u"Ошибки анализа звука (%d): %s"},
    {u"SampleReminder", u"Образец № %d \"%s\" держится уже %s"},
    {u"SampleEnded", u"Образец № %d \"%s\" закончился, длился %s"},
    {u"LogLinesDropped", u"Не записано в журнал строк: %d (папка журнала недоступна)."},
    {u"ServerAnswerTooLong", u"Ответ сервера обновлений длиннее %d байт и не принят: это не файл версии программы."},
    {u"ServerVersionInvalid", u"Сервер обновлений сообщил неверный номер версии \"%s\": ожидается от одного до четырёх чисел от 0 до 65535 через точку."},
    // The program's start and stop, so that a gap in the log can be explained.
    {u"ProgramStarted", u"Программа запущена: версия %s, папка данных \"%s\", вход \"%s\"."},
    {u"ProgramStopped", u"Программа остановлена: %s."},
    {u"StopSignal", u"сигнал %s"},
    {u"StopSessionEnd", u"завершение сеанса рабочего стола"},
    {u"StopRestart", u"перезапуск"},
    {u"StopWindowClosed", u"окно закрыто"},
    {u"LogWriteFailed", u"Не удалось записать журнал: %s. Строки хранятся в памяти (не больше %d) и будут записаны, как только запись снова станет возможной."},
    // Capture that cannot be opened, and its start once it can.
    {u"CaptureNoServer", u"Захват звука с устройства \"%s\" не начат: звуковой сервер (PulseAudio или PipeWire, %s) не запущен для этого пользователя (%s). Захват начнётся, как только сервер заработает."},
    {u"CaptureNoDevice", u"Захват звука не начат: устройства \"%s\" нет. Проверьте, что оно подключено и включено; захват начнётся, как только оно появится."},
    {u"CaptureRefused", u"Захват звука с устройства \"%s\" не начат: звуковой сервер отказал (%s). Проверьте, что этому пользователю разрешён доступ к звуковому серверу; попытки продолжаются."},
    {u"CaptureNotStarted", u"Захват звука с устройства \"%s\" не начат: %s. Попытки продолжаются."},
    {u"CaptureStarted", u"Захват звука с устройства \"%s\" начат."},
    // Messages of the scanner, ondrix-scan.
    {u"ScanNeedsValue", u"%s требует значения"},
    {u"ScanDeviceNumber", u"--device требует число от -1, а не \"%s\""},
    {u"ScanJobsNumber", u"%s требует число от 1, а не \"%s\""},
    {u"ScanUnknownOption", u"неизвестный ключ %s"},
    {u"ScanUnknownFormat", u"неизвестный формат --format \"%s\": возможны text, csv и json"},
    {u"ScanLiveNoFiles", u"--live не принимает файлов AUDIO"},
    {u"ScanNoAudio", u"не указан ни один файл AUDIO"},
    {u"ScanSeeHelp", u"%s (см. --help)"},
    {u"ScanFileMissing", u"\"%s\" не существует"},
    {u"ScanCannotRead", u"не удалось прочитать \"%s\": %s"},
    {u"ScanCannotScan", u"не удалось просканировать \"%s\": %s"},
    {u"ScanReadToEnd", u"не удалось прочитать \"%s\" до конца: %s"},
    {u"ScanCaptureLost", u"потерян захват звука (%s); пробую открыть его снова"},
    {u"ScanCaptureBack", u"захват звука восстановлен"},
    {u"ScanCannotCapture", u"не удалось открыть устройство записи %d: %s"},
    // Values of the sample list that could not be read.
    {u"SampleValueNotRead", u"значение %s=\"%s\" не распознано"},
    {u"SampleKeyMissing", u"нет строки %s="},
    {u"SampleNotRead", u"Образец № %d \"%s\": %s. Он не включается автоматически, а его строки в файле остаются как есть, пока образец не изменён в окне образца."},
    {u"SampleNotWatched", u"Образец № %d \"%s\": %s. Он не отслеживается."},
    {u"HelpNotOpened", u"Не удалось открыть справку: не найдена программа, которая открывает страницы в браузере (xdg-open из пакета xdg-utils). Откройте в браузере файл\r\n%s"},
    // Messages of the local socket that external programs use.
    {u"SocketInUse", u"Сокет внешних программ %s обслуживает другая запущенная копия программы. Внешние программы не смогут управлять этой копией."},
    {u"SocketError", u"Не удалось открыть сокет внешних программ %s: %s. Внешние программы не смогут управлять программой."},
    {u"RemoteNoSample", u"Команда внешней программы для образца №%d не выполнена: такого образца нет."},
    {u"SubscriberTimeout", u"Внешнее приложение %s не ответило на сообщение о нахождении образца №%d за 5 секунд."},
    // Messages of the configuration archives.
    {u"Config_Backup_NoData", u"Архивировать нечего: выбранные папки пусты или не выбрана ни одна. Прежний архив сохранён."},
    {u"Config_Restore_TooLarge", u"Архив \"%s\" распаковывается в %d МБ, а восстановление принимает не больше %d МБ. Ничего не изменено."},
    {u"Config_Restore_NoSpace", u"Для восстановления из архива \"%s\" нужно %d МБ, а свободно %d МБ. Ничего не изменено."},
    {u"Config_Restore_NoData", u"В архиве \"%s\" нет выбранных данных. Ничего не изменено."},
    {u"Config_Backup_Failed", u"Не удалось создать архив данных. %s"},
};

struct TMessageTable {
    QMutex Lock;
    TMessageValues Values;
    QStringList Strings;

    TMessageTable() { Reset(); }

    void Reset()
    {
        Strings = BuiltInMessageStrings();
        Values.Clear();
        Values.AddMessageStrings(Strings);
    }
};

TMessageTable& Table()
{
    static TMessageTable Instance;
    return Instance;
}

}  // namespace

qsizetype TMessageValues::IndexOf(const QString& Key) const
{
    for (qsizetype I = 0; I < Items.size(); ++I)
        if (Items.at(I).Key.compare(Key, Qt::CaseInsensitive) == 0)
            return I;
    return -1;
}

void TMessageValues::SetText(const QString& Key, const QString& Text)
{
    const qsizetype Index = IndexOf(Key);
    if (Index >= 0)
        Items[Index].Text = Text;
    else
        Append(Key, Text);
}

void TMessageValues::Append(const QString& Key, const QString& Text)
{
    Items.append({Key, Text});
}

void TMessageValues::AddMessageStrings(const QStringList& Lines)
{
    for (const QString& Line : Lines) {
        const qsizetype Eq = Line.indexOf(u'=');
        if (Eq < 0)
            Append(QString(), Line);
        else
            Append(Line.left(Eq), Line.mid(Eq + 1));
    }
}

QStringList TMessageValues::ToMessageStrings() const
{
    QStringList Lines;
    Lines.reserve(Items.size());
    for (const TMessageValue& Item : Items)
        Lines.append(Item.Key + u'=' + Item.Text);
    return Lines;
}

QStringList BuiltInMessageStrings()
{
    QStringList Lines;
    for (const TBuiltInMessage& Message : BuiltInMessages)
        Lines.append(QString::fromUtf16(Message.Key) + u'=' + QString::fromUtf16(Message.Text));
    return Lines;
}

QString GetMessageText(const QString& Key)
{
    TMessageTable& T = Table();
    QMutexLocker Guard(&T.Lock);
    const qsizetype Index = T.Values.IndexOf(Key);
    return Index >= 0 ? T.Values.At(Index).Text : Key;
}

QString FormatMessage(const QString& Text, const QVariantList& Args)
{
    QString Result;
    Result.reserve(Text.size() + 32);
    qsizetype Next = 0;
    for (qsizetype I = 0; I < Text.size(); ++I) {
        const QChar C = Text.at(I);
        if (C != u'%' || I + 1 >= Text.size()) {
            Result += C;
            continue;
        }
        const QChar Kind = Text.at(I + 1);
        if (Kind == u'%') {
            Result += u'%';
            ++I;
        } else if ((Kind == u'd' || Kind == u's') && Next < Args.size()) {
            const QVariant& Arg = Args.at(Next++);
            bool IsNumber = false;
            const qlonglong Number = Arg.toLongLong(&IsNumber);
            Result += Kind == u'd' && IsNumber ? QString::number(Number) : Arg.toString();
            ++I;
        } else {
            Result += C;
        }
    }
    return Result;
}

QString FormatMessageText(const QString& Key, const QVariantList& Args)
{
    return FormatMessage(GetMessageText(Key), Args);
}

void SetMessageText(const QString& Key, const QString& Text)
{
    TMessageTable& T = Table();
    QMutexLocker Guard(&T.Lock);
    T.Values.SetText(Key, Text);
}

void RebuildMessageStrings()
{
    TMessageTable& T = Table();
    QMutexLocker Guard(&T.Lock);
    T.Strings = T.Values.ToMessageStrings();
}

QStringList MessageStrings()
{
    TMessageTable& T = Table();
    QMutexLocker Guard(&T.Lock);
    return T.Strings;
}

void ResetMessageTable()
{
    TMessageTable& T = Table();
    QMutexLocker Guard(&T.Lock);
    T.Reset();
}
