<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>Brin2App</name>
    <message>
        <source>Этой папкой уже пользуется другой клиент (%1):
%2</source>
        <translation>This folder is in use by another client (%1):
%2</translation>
    </message>
    <message>
        <source>Не удалось занять папку (%1):
%2</source>
        <translation>Could not take the folder (%1):
%2</translation>
    </message>
</context>
<context>
    <name>Brin2Dlg</name>
    <message>
        <source>Подключить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Отключить</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>Логин</source>
        <translation>Login</translation>
    </message>
    <message>
        <source>Пароль</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>Денег на счету</source>
        <translation>Balance</translation>
    </message>
    <message>
        <source>Установки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Статистика:</source>
        <translation>Statistics:</translation>
    </message>
    <message>
        <source>Осталось МБ</source>
        <translation>MB left</translation>
    </message>
    <message>
        <source>Сообщения</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>Статус:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <source>Статистика подробнее...</source>
        <translation>Detailed statistics...</translation>
    </message>
    <message>
        <source>Проверка связи с сервером</source>
        <translation>Check the connection</translation>
    </message>
    <message>
        <source>В brin.ini есть строки, которые программа не может прочитать (%1). В новом brin.ini их нет; прежний файл сохранён как brin.ini.bak.</source>
        <translation>brin.ini has lines the program cannot read (%1). The new brin.ini leaves them out; the old file is kept as brin.ini.bak.</translation>
    </message>
    <message>
        <source>В brin.ini есть строки, которые программа не может прочитать (%1). Сохранить прежний файл как brin.ini.bak не удалось, поэтому brin.ini оставлен как был.</source>
        <translation>brin.ini has lines the program cannot read (%1). The old file could not be kept as brin.ini.bak, so brin.ini is left as it was.</translation>
    </message>
    <message>
        <source>Сервер не отвечает, проверьте настройки сети</source>
        <translation>The server does not answer; check the network settings</translation>
    </message>
    <message>
        <source>Неверный логин или пароль...</source>
        <translation>Wrong login or password...</translation>
    </message>
    <message>
        <source>Не удалось открыть страницу статистики:
</source>
        <translation>Could not open the statistics page:
</translation>
    </message>
    <message>
        <source>На счету %1, меньше %2. %3</source>
        <translation>The balance is %1, below %2. %3</translation>
    </message>
    <message>
        <source>Мало денег на счету</source>
        <translation>Low balance</translation>
    </message>
    <message>
        <source>Состояние подключения</source>
        <translation>Connection state</translation>
    </message>
    <message>
        <source>Не подключено</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>Список счётчиков трафика</source>
        <translation>Traffic counters</translation>
    </message>
    <message>
        <source>Строка состояния</source>
        <translation>Status line</translation>
    </message>
    <message>
        <source>Денег на счету: %1</source>
        <translation>Balance: %1</translation>
    </message>
    <message>
        <source>Осталось МБ: %1</source>
        <translation>MB left: %1</translation>
    </message>
    <message>
        <source>Подключено</source>
        <translation>Connected</translation>
    </message>
</context>
<context>
    <name>BrinConfig</name>
    <message>
        <source>Установки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>IP-адрес</source>
        <translation>IP address</translation>
    </message>
    <message>
        <source>Запомнить пароль</source>
        <translation>Remember password</translation>
    </message>
    <message>
        <source>Подключаться при запуске</source>
        <translation>Connect at start-up</translation>
    </message>
    <message>
        <source>Порт</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Автоподключение при обрыве</source>
        <translation>Reconnect when the line drops</translation>
    </message>
    <message>
        <source>Не удалось записать brin.ini. Настройки действуют до выхода из программы.</source>
        <translation>Could not write brin.ini. The settings hold until the program ends.</translation>
    </message>
    <message>
        <source>Порт: больше или меньше на единицу (клавиши вверх и вниз в поле порта)</source>
        <translation>Port: one up or down (the Up and Down keys in the port field)</translation>
    </message>
</context>
<context>
    <name>Pager</name>
    <message>
        <source>Сообщения</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>Не удалось записать history.ini. Новые сообщения сохранены в памяти программы и будут записаны, как только запись станет возможной.</source>
        <translation>Could not write history.ini. New messages are kept in the program's memory and written as soon as writing works again.</translation>
    </message>
    <message>
        <source>История сообщений</source>
        <translation>Message history</translation>
    </message>
</context>
<context>
    <name>PingWindow</name>
    <message>
        <source>Проверка связи с сервером</source>
        <translation>Check the connection</translation>
    </message>
    <message>
        <source>Сценарий прерван.
</source>
        <translation>The script was interrupted.
</translation>
    </message>
    <message>
        <source>Завершено, код выхода %1.
</source>
        <translation>Finished, exit code %1.
</translation>
    </message>
    <message>
        <source>Не удалось запустить sh: %1
</source>
        <translation>Could not start sh: %1
</translation>
    </message>
    <message>
        <source>Файл ping.sh не найден в текущей папке.
%1
</source>
        <translation>There is no ping.sh in the current folder.
%1
</translation>
    </message>
    <message>
        <source>Файл ping.bat не найден в текущей папке.
%1</source>
        <translation>There is no ping.bat in the current folder.
%1</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Окно программы</source>
        <translation>Show window</translation>
    </message>
    <message>
        <source>Подключить</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>История баланса</source>
        <translation>Balance history</translation>
    </message>
    <message>
        <source>Отключить</source>
        <translation>Disconnect</translation>
    </message>
</context>
<context>
    <name>UsageWindow</name>
    <message>
        <source>dd.MM.yyyy</source>
        <translation>yyyy-MM-dd</translation>
    </message>
    <message>
        <source>Денег хватит до %1 (расход %2 в день)</source>
        <translation>Balance lasts until %1 (spending %2 a day)</translation>
    </message>
    <message>
        <source>Денег хватит больше чем на сто лет (расход %1 в день)</source>
        <translation>Balance lasts more than a hundred years (spending %1 a day)</translation>
    </message>
    <message>
        <source>Расхода нет: баланс не уменьшается</source>
        <translation>No spending: the balance does not fall</translation>
    </message>
    <message>
        <source>Баланс уже ниже нуля</source>
        <translation>The balance is already below zero</translation>
    </message>
    <message>
        <source>Для прогноза нужна история хотя бы за сутки</source>
        <translation>Not enough history for a forecast yet (less than a day)</translation>
    </message>
    <message>
        <source>Нет данных за последние 30 дней</source>
        <translation>No data for the last 30 days</translation>
    </message>
    <message>
        <source>Баланс от %1 до %2, сейчас %3; остаток трафика от %4 до %5 МБ, сейчас %6 МБ</source>
        <translation>Balance from %1 to %2, now %3; traffic left from %4 to %5 MB, now %6 MB</translation>
    </message>
    <message>
        <source>Баланс</source>
        <translation>Balance</translation>
    </message>
    <message>
        <source>Остаток трафика, МБ</source>
        <translation>Traffic left, MB</translation>
    </message>
    <message>
        <source>dd.MM</source>
        <translation>d MMM</translation>
    </message>
    <message>
        <source>История баланса</source>
        <translation>Balance history</translation>
    </message>
    <message>
        <source>График баланса и остатка трафика за 30 дней</source>
        <translation>Chart of the balance and the traffic left over 30 days</translation>
    </message>
    <message>
        <source>Предупредить, когда на счету меньше</source>
        <translation>Warn when the balance is below</translation>
    </message>
    <message>
        <source>Сумма; пустое поле: не предупреждать</source>
        <translation>A sum; empty: no warning</translation>
    </message>
    <message>
        <source>не предупреждать</source>
        <translation>no warning</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Введите сумму, например 100 или 99.50</source>
        <translation>Enter a sum, such as 100 or 99.50</translation>
    </message>
    <message>
        <source>Прогноз</source>
        <translation>Forecast</translation>
    </message>
</context>
</TS>