// The protocol component: owns the serial port, hands out packet
// identifiers, runs one command transaction at a time, collects frames from
// the received bytes, decodes the register's unsolicited messages, and gives
// every result code its text.
//
// It belongs to one thread, the one that created it: commands, port opening
// and closing and every read of the port happen there. A command blocks
// that thread until its answer or its time-out, waiting on the port itself
// and reading what arrives the moment it arrives, with no event loop in
// between. Between commands the thread's event loop reads the port. Another
// thread may only read PID, TimeOut, State and Port.Opened, set TimeOut,
// and Interrupt().
#pragma once

#include "ComPort.h"
#include "FrameCodec.h"
#include "KkmTypes.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

// Register texts are byte runs (Windows-1251), passed on unconverted.
using TKkmText = QByteArray;

// Unsolicited message events; every one starts with AR, AT, PID.
using TSaleOnFreeEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t vOper, TCurrency Quant, TCurrency Price,
    std::uint8_t nSection, std::uint8_t nOperator, std::uint32_t nDoc)>;
using TSaleOnCodeEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t vOper, TCurrency Quant, std::int64_t wCode,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TSaleOnBarcodeEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t vOper, TCurrency Quant, const TKkmText& wBCode,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TFreeDiscEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t tDisc, std::uint8_t vOper, TCurrency dSumm,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TDiscOnQueryEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t tDisc, std::uint8_t vOper, TCurrency rSumm,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TDiscOnCodeEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t tDisc, std::uint8_t vOper, TCurrency rSumm,
    std::int64_t dCode, std::uint8_t nOperator, std::uint32_t nDoc)>;
using TDiscOnBarcodeEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, std::uint8_t tDisc, std::uint8_t vOper, TCurrency rSumm,
    const TKkmText& dBCode, std::uint8_t nOperator, std::uint32_t nDoc)>;
using TPayReceiptEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tPay, std::uint8_t tOper, std::uint8_t vOper, TCurrency rSumm,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TCloseReceiptEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, TDateTime rDate, TDateTime rTime, TCurrency rSumm,
    std::uint8_t nOperator, std::uint32_t nDoc)>;
using TAbortReceiptEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    std::uint8_t tOper, TDateTime rDate, TDateTime rTime, std::uint8_t nOperator,
    std::uint32_t nDoc)>;
using TInSummEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    TCurrency inSumm, TDateTime inDate, TDateTime inTime, std::uint8_t nOperator,
    std::uint32_t nDoc, std::uint32_t nIn)>;
using TOutSummEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    TCurrency outSumm, TDateTime outDate, TDateTime outTime, std::uint8_t nOperator,
    std::uint32_t nDoc, std::uint32_t nOut)>;
using TCloseSessionEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    TCurrency cSumm, TDateTime cDate, TDateTime cTime, std::uint8_t nOperator,
    std::uint32_t nDoc, std::uint16_t nSession)>;
using TConfirmationEvent = std::function<void(std::uint8_t AR, std::uint8_t AT, std::uint8_t PID,
    TCurrency rSumm, bool RClose)>;

// Protocol result codes detected on the PC side (positive codes are the
// register's own).
enum TProtocolResult : std::int32_t {
    rcOk = 0,
    rcPortClosed = -1,
    rcBuildFailed = -2,
    rcTimeout = -3,
    rcBadResponse = -4,
    rcUnstuffFailed = -5,
    rcCrcMismatch = -6,
    rcBusy = -7,
    rcException = -8,
    rcTooShort = -9,
    rcPidMismatch = -10,
    rcOtherSender = -11,
    rcOtherReceiver = -12,
};

class TOmvekCP : public QObject {
    Q_OBJECT
    Q_PROPERTY(quint8 PID READ PID WRITE setPID)
    Q_PROPERTY(quint32 TimeOut READ TimeOut WRITE setTimeOut)
    Q_PROPERTY(QString Version READ Version WRITE setVersion)

public:
    enum TTransactionState : std::uint8_t {
        tsIdle = 0,
        tsBusy = 1,
        tsAnswered = 2,
        tsWaiting = 3,
    };

    explicit TOmvekCP(QObject* Owner = nullptr);
    ~TOmvekCP() override;

    // The serial port; the windows open, close and list ports through it.
    TComPort Port;

    std::uint8_t PID() const { return pid_; }
    void setPID(std::uint8_t Value) { pid_ = Value; }
    std::uint32_t TimeOut() const { return timeOut_; }
    void setTimeOut(std::uint32_t Value) { timeOut_ = Value; }

    // From any thread: the command waiting now ends at once, and every
    // command after it returns -1 without touching the line, until
    // ClearInterrupt. The owner then closes the port in its own thread.
    void Interrupt();
    void ClearInterrupt()
    {
        interrupted_ = false;
        Port.ClearWake();
    }
    bool Interrupted() const { return interrupted_; }
    QString Version() const;
    void setVersion(const QString&) {}

    std::uint8_t State() const { return state_; }
    bool InFrame() const { return collector_.InFrame(); }
    std::size_t RxLen() const { return collector_.Length(); }
    TArrayOfByte RMsg() const { return rMsg_; }
    TArrayOfByte TMsg() const { return tMsg_; }

    std::uint8_t NextPID();
    std::uint8_t LastPID() const;
    bool WaitState(std::uint8_t Wanted);

    static void ErrorText(std::int32_t Code, QString& Text);
    static QString ErrorText(std::int32_t Code);

    // The port's data handler: collects frames from the first Count bytes.
    void PortDataReceived(const TArrayOfByte& Data, std::int32_t Count, std::uint32_t Errors);

    // Status and information (codes 1, 2, 6).
    std::int32_t GetDeviceInfo(std::uint8_t AR, std::uint8_t AT, std::int64_t& SerialNumber,
                               std::uint16_t& InfoWord, std::uint8_t& InfoByte,
                               std::uint8_t& SoftVersion, TDateTime& SoftDate,
                               TKkmText& ModelName);
    std::int32_t GetDeviceState(std::uint8_t AR, std::uint8_t AT, std::uint8_t& ErrorCode,
                                TDateTime& Date, TDateTime& Time, std::uint8_t& ModeCode,
                                std::uint8_t& OperatorNo, std::uint8_t& SessionOpen,
                                TCurrency& SessionTotal, TCurrency& CashInDrawer);
    std::int32_t Connect(std::uint8_t AR, std::uint8_t AT, std::uint8_t Param1,
                         std::uint8_t Param2);

    // Tables (codes 12, 13, 14, 15, 19, 20).
    std::int32_t ReadTableRecord(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                 std::uint16_t Record, TArrayOfByte& Data);
    std::int32_t ReadTableField(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                std::uint16_t Record, std::uint8_t Field, TArrayOfByte& Data);
    std::int32_t WriteTableRecord(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                  std::uint16_t Record, const TArrayOfByte& Data);
    std::int32_t WriteTableField(std::uint8_t AR, std::uint8_t AT, std::uint8_t Table,
                                 std::uint16_t Record, std::uint8_t Field,
                                 const TArrayOfByte& Data);
    std::int32_t ReadGoodsSales(std::uint8_t AR, std::uint8_t AT, std::uint16_t Record,
                                TCurrency& Quantity);
    std::int32_t WriteGoodsSales(std::uint8_t AR, std::uint8_t AT, std::uint16_t Record,
                                 TCurrency Quantity);

    // Logo and authorisation (codes 7, 30).
    std::int32_t SendLogoHeader(std::uint8_t AR, std::uint8_t AT, std::uint8_t Kind,
                                std::uint8_t BytesPerRow, std::uint8_t Rows);
    std::int32_t SendLogoRow(std::uint8_t AR, std::uint8_t AT, std::uint8_t Row,
                             const TArrayOfByte& Data);
    std::int32_t Authorize(std::uint8_t AR, std::uint8_t AT, std::uint8_t User,
                           std::int64_t Password);

    // The port's line was lost (the device hung up or failed). A command
    // waiting at that moment, and every command after it until the port is
    // closed and opened again, returns -1 at once. Told once per loss, in
    // the component's thread; unassigned by default.
    std::function<void()> OnLineLost;

    // Every unsolicited message frame as received, markers included, before
    // it is decoded into one of the events below; unassigned by default.
    std::function<void(const TArrayOfByte& Frame)> OnMessage;

    // Unsolicited message events, unassigned by default.
    TSaleOnFreeEvent onSaleOnFree;
    TSaleOnCodeEvent onSaleOnCode;
    TSaleOnBarcodeEvent onSaleOnBarcode;
    TFreeDiscEvent onFreeDisc;
    TDiscOnQueryEvent onDiscOnQuery;
    TDiscOnCodeEvent onDiscOnCode;
    TDiscOnBarcodeEvent onDiscOnBarcode;
    TPayReceiptEvent onPayReceipt;
    TCloseReceiptEvent onCloseReceipt;
    TAbortReceiptEvent onAbortReceipt;
    TInSummEvent onInSumm;
    TOutSummEvent onOutSumm;
    TCloseSessionEvent onCloseSession;
    TConfirmationEvent onConfirmation;

private:
    // Builds the request payload; false when it cannot be built (-2).
    using PayloadBuilder = std::function<bool(TArrayOfByte& Payload)>;
    // Reads the payload of a success-form response; false breaks the
    // command's rules (-4).
    using ResponseReader = std::function<bool(std::span<const std::uint8_t> Payload)>;

    // The one command transaction; every command method runs through it.
    std::int32_t Transact(std::uint8_t AR, std::uint8_t AT, std::uint8_t Code,
                          const PayloadBuilder& Build, const ResponseReader& Read);
    // Commands whose success form is an empty payload.
    std::int32_t TransactNoData(std::uint8_t AR, std::uint8_t AT, std::uint8_t Code,
                                const PayloadBuilder& Build);

    void DispatchMessage(TArrayOfByte& Frame);
    bool WaitTimedOut(std::chrono::steady_clock::time_point start) const;
    // Open, its line not lost, and not interrupted.
    bool LinkUp() const { return Port.Opened && !Port.LineLost() && !interrupted_; }
    // Waits until the request of Bytes bytes has left the line, reading
    // what arrives meanwhile; false when the link went down.
    bool WaitSent(std::size_t Bytes);
    // Waits at most Limit for the port and reads what has arrived, if any.
    void TakeUpChunk(std::chrono::microseconds Limit);

    std::atomic<std::uint8_t> pid_{0};
    std::atomic<std::uint32_t> timeOut_{150};
    std::atomic<std::uint8_t> state_{tsIdle};
    std::atomic<bool> interrupted_{false};
    kkm::FrameCollector collector_;
    TArrayOfByte rxFrame_;
    TArrayOfByte rMsg_;
    TArrayOfByte tMsg_;
    std::chrono::steady_clock::time_point lastRx_{};
    // Time the current wait did not get to run at all (a loaded machine):
    // not counted as silence of a line whose frame is still arriving.
    std::chrono::steady_clock::duration stalled_{};
};
