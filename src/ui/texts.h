#pragma once
// The main window's own texts, byte for byte as the user must see them.
namespace quarno::ui::text {

// Registration states.
inline constexpr char kNotRegistered[] = "미등록";
inline constexpr char kRegistered[] = "등록됨";
inline constexpr char kRegistrationFailed[] = "등록실패";
inline constexpr char kRegisteredElsewhere[] = "다른 PC에서 등록됨";
inline constexpr char kNameTaken[] = "다른 사용자가 사용중인 Quarno 주소입니다.";
inline constexpr char kBadParameters[] = "입력 파라미터 오류입니다.";

// The share link (tray and caption menu).
inline constexpr char kMenuCopyShareLink[] = "공유 링크 복사(&L)";
inline constexpr char kShareLinkCopied[] =
    "공유 링크를 클립보드에 복사하였습니다.\r\n링크를 아는 사람은 누구나 암호 없이 파일을 받을 수 "
    "있습니다.\r\n암호를 바꾸면 이전 링크는 더 이상 쓸 수 없습니다.";
inline constexpr char kShareLinkNotReady[] =
    "공유 링크를 만들 수 없습니다.\r\nQuarno 주소를 등록하고 FTP 사용자 설정을 저장하시기 바랍니다.";

// Server status.
inline constexpr char kServerRunning[] = "서버실행중";
inline constexpr char kServerPreparing[] = "서버준비중";

// Waiting window.
inline constexpr char kWaitResolveDdns[] =
    "DDNS 서버 IP주소를 받아오는 중입니다.|잠시만 기다려 주시기 바랍니다.";
inline constexpr char kWaitRegister[] =
    "Quarno 계정을 등록중 입니다.|잠시만 기다려 주시기 바랍니다.";
inline constexpr char kWaitCheckAccount[] =
    "Quarno Server 계정정보를 확인 중입니다.|잠시만 기다려 주시기 바랍니다.";
inline constexpr char kWaitUpnpList[] =
    "UPnP 포트 포워딩 리스트를 조회 중 입니다.|잠시만 기다려 주시기 바랍니다.";

// Start-up errors 1, 2, 3.
inline constexpr char kFatalDdns[] =
    "DDNS 서버의 주소를 가져오는데 실패했습니다.\r\n네트워크 상태를 확인하시기 바랍니다.";
inline constexpr char kFatalFtp[] =
    "FTP 서버 초기화에 실패하였습니다.\r\n잠시 후 다시 실행하여 주시기 바랍니다.";
inline constexpr char kFatalUpnp[] =
    "Ralmek 공유기에 설정된 UPNP 포트 포워드 리스트를 가져오지 못했습니다.\r\n\r\n ☞ 공유기의 "
    "UPNP 설정이 실행 중인지 확인 하시기 바랍니다.";

// Registration input.
inline constexpr char kEnterName[] = "Quarno 주소를 입력하세요";
inline constexpr char kNoUnderscore[] =
    "under bar(\"_\") 문자는 Quarno 주소명에 포함될 수 없습니다.";
inline constexpr char kEnterEmail[] = "Quarno E-mail 주소를 입력하세요";
inline constexpr char kEmailForm[] = "Quarno E-mail 주소형식에 맞게 입력하세요";
inline constexpr char kEnterPort[] = "Quarno Server Port를 입력하세요";
inline constexpr char kPortRange[] = "사용가능한 Port 범위를 벗어났습니다.";
inline constexpr char kPortInUse[] = "다른 응용 프로그램에서 사용 중인 포트입니다.";

// Registration outcome.
inline constexpr char kRegistrySaveFailed[] = "레지스트리 - Quarno 정보 저장에 실패하였습니다.";
inline constexpr char kRegisterDone[] = "Quarno 계정이 등록되었습니다.";
inline constexpr char kRegisterFailed[] = "DDNS 서버 등록에 실패했습니다.";
inline constexpr char kReRegisterFailed[] = "DDNS 서버 재등록에 실패했습니다.";
inline constexpr char kStoredFtpPortTaken[] =
    "등록된 FTP Port가 다른 응용프로그램에서 사용중입니다.\r\n\r\n다른 포트로 다시 등록하시기 "
    "바랍니다";
inline constexpr char kAutoReRegisterFailed[] =
    "DDNS 자동 재등록에 실패하였습니다.\r\n\r\n다른 포트로 다시 등록 하시기 바랍니다.";
inline constexpr char kDeleteDone[] = "기존계정 삭제에 성공했습니다";
inline constexpr char kDeleteFailed[] = "기존계정 삭제에 실패했습니다";
inline constexpr char kThisPcDone[] = "현재PC등록에 성공했습니다";
inline constexpr char kThisPcFailed[] = "현재PC등록에 실패했습니다";
inline constexpr char kThisPcDeleteFailed[] = "현재PC 등록에 실패했습니다";

// FTP account.
inline constexpr char kEnterUser[] = "사용자 ID를 입력하세요";
inline constexpr char kEnterFolder[] = "서버폴더를 설정하세요";
inline constexpr char kBadFolder[] = "잘못된 공유 디렉토리 경로입니다. 다시 설정하시기 바랍니다";
inline constexpr char kNetworkFolder[] = "네트워크 드라이브를 공유 디렉토리로 설정할 수 없습니다";
inline constexpr char kCdromFolder[] = "CD-ROM 드라이브를 공유 디렉토리로 설정할 수 없습니다";
inline constexpr char kEnterPassword[] = "사용자 암호를 입력하세요";
inline constexpr char kUsersConnected[] =
    "현재 %d명의 사용자가 접속 중입니다.\r\n설정을 변경하면 기존 연결이 끊어집니다.\r\n\r\n ☞ "
    "계속하시겠습니까?";
inline constexpr char kNoticeCaption[] = "알림";
inline constexpr char kAccountSerializeFailed[] = "사용자 설정 저장에 실패하였습니다.";
inline constexpr char kAccountStoreFailed[] =
    "FTP 사용자 정보를 레지스트리에 저장하는데 실패하였습니다.";
inline constexpr char kAccountSaved[] = "사용자 설정을 저장하였습니다.";
inline constexpr char kChooseFolderTitle[] = "[FTP] 공개할 폴더를 선택하세요.";

// Charset box entries, in order.
inline constexpr char kCharsetEucKrEntry[] = "EUC-KR (알FTP)";
inline constexpr char kCharsetUtf8Entry[] = "UTF-8";
inline constexpr char kCharsetEucKr[] = "EUC-KR";
inline constexpr char kCharsetUtf8[] = "UTF-8";

// Traces (no behaviour).
inline constexpr char kTraceKeepAlive[] = "====== Keep Alive =======  Send command 8";
inline constexpr char kTraceRegister[] = "Quarno 등록 - 계정등록 %%%%%";

}  // namespace quarno::ui::text
