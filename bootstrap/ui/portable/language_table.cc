// The texts are UTF-8 in this file and become UTF-16 through L"" literals.
#include "language_table.h"

#include "tovik_website.h"  // TOVIK_WEBSITE: scheme and host of the maker's site, wide literal

namespace tovik {
namespace {

// The two pages every row links to; `suffix` is the row's regional suffix.
#define TV_DOWNLOAD_PAGE(suffix) TOVIK_WEBSITE L"/go/getvantel" suffix
#define TV_SYSREQS_PAGE(suffix) TOVIK_WEBSITE L"/go/vantel_sysreqs" suffix L"/"

#define TV_ENGLISH_ROW(code, id)                                                              \
  {                                                                                            \
    code, id,                                                                                  \
        L"This application requires a version of Tessaro Vantel which cannot be found.\n"      \
        L"Please download the latest version of the runtime from\n" TV_DOWNLOAD_PAGE(L"") L",\n" \
        L"or contact the application author for an updated version.",                         \
        L"Something went wrong trying to install this application.\n"                          \
        L"Please install the latest version of Tessaro Vantel from\n" TV_DOWNLOAD_PAGE(L"")    \
        L" and then try again.",                                                               \
        L"OK", L"Cancel", L"Please wait.",                                                     \
        L"Unable to download Tessaro Vantel. Make sure that you\u2019re connected to the "     \
        L"network and try again.",                                                             \
        L"Unable to validate the downloaded version of Tessaro Vantel.\n"                      \
        L"Please install the latest version of Tessaro Vantel from\n" TV_DOWNLOAD_PAGE(L"")    \
        L",\nthen retry installing this application.",                                         \
        L"Verifying download...",                                                              \
        L"This application requires an update to Tessaro Vantel that is not available for "    \
        L"your system. Please view the <a href='" TV_SYSREQS_PAGE(L"")                         \
        L"'>system requirements</a> for Tessaro Vantel and update your system accordingly.",   \
        L"Installing ",                                                                        \
        L"This application requires an update to Tessaro Vantel but downloading that update "  \
        L"on your system is not allowed by your administrator. Please contact your "           \
        L"administrator.",                                                                     \
  }

}  // namespace

const LanguageTexts kLanguageTable[kLanguageRowCount] = {
    // 0
    {"de", 0x0407,
     L"Diese Anwendung erfordert eine Version von Tessaro Vantel, die nicht gefunden werden kann.\n"
     L"Bitte laden Sie die neueste Version der Laufzeitumgebung herunter von\n" TV_DOWNLOAD_PAGE(L"_de") L",\n"
     L"oder wenden Sie sich an den Autor der Anwendung, um eine aktualisierte Version zu erhalten.",
     L"Bei der Installation dieser Anwendung ist ein Fehler aufgetreten.\n"
     L"Bitte installieren Sie die neueste Version von Tessaro Vantel von\n" TV_DOWNLOAD_PAGE(L"_de")
     L" und versuchen Sie es dann erneut.",
     L"OK", L"Abbrechen", L"Bitte warten.",
     L"Tessaro Vantel kann nicht heruntergeladen werden. Stellen Sie sicher, dass Sie mit dem "
     L"Netzwerk verbunden sind, und versuchen Sie es erneut.",
     L"Die heruntergeladene Version von Tessaro Vantel kann nicht überprüft werden.\n"
     L"Bitte installieren Sie die neueste Version von Tessaro Vantel von\n" TV_DOWNLOAD_PAGE(L"_de") L",\n"
     L"und versuchen Sie dann erneut, diese Anwendung zu installieren.",
     L"Download wird überprüft...",
     L"Diese Anwendung erfordert ein Update von Tessaro Vantel, das für Ihr System nicht verfügbar "
     L"ist. Bitte lesen Sie die <a href='" TV_SYSREQS_PAGE(L"_de") L"'>Systemanforderungen</a> für "
     L"Tessaro Vantel und aktualisieren Sie Ihr System entsprechend.",
     L"Installation von ",
     L"Diese Anwendung erfordert ein Update von Tessaro Vantel, aber Ihr Administrator hat das "
     L"Herunterladen dieses Updates auf Ihrem System nicht zugelassen. Bitte wenden Sie sich an "
     L"Ihren Administrator."},
    // 1
    TV_ENGLISH_ROW("en", 0x0409),
    // 2
    {"es", 0x0C0A,
     L"Esta aplicación requiere una versión de Tessaro Vantel que no se encuentra.\n"
     L"Descargue la versión más reciente del motor en tiempo de ejecución desde\n" TV_DOWNLOAD_PAGE(L"_es") L",\n"
     L"o póngase en contacto con el autor de la aplicación para obtener una versión actualizada.",
     L"Se ha producido un error al intentar instalar esta aplicación.\n"
     L"Instale la versión más reciente de Tessaro Vantel desde\n" TV_DOWNLOAD_PAGE(L"_es")
     L" y vuelva a intentarlo.",
     L"Aceptar", L"Cancelar", L"Espere.",
     L"No se puede descargar Tessaro Vantel. Asegúrese de que está conectado a la red y vuelva a "
     L"intentarlo.",
     L"No se puede validar la versión descargada de Tessaro Vantel.\n"
     L"Instale la versión más reciente de Tessaro Vantel desde\n" TV_DOWNLOAD_PAGE(L"_es") L",\n"
     L"y vuelva a intentar instalar esta aplicación.",
     L"Verificando la descarga...",
     L"Esta aplicación requiere una actualización de Tessaro Vantel que no está disponible para su "
     L"sistema. Consulte los <a href='" TV_SYSREQS_PAGE(L"_es") L"'>requisitos del sistema</a> de "
     L"Tessaro Vantel y actualice su sistema en consecuencia.",
     L"Instalando ",
     L"Esta aplicación requiere una actualización de Tessaro Vantel, pero el administrador no "
     L"permite descargar esa actualización en su sistema. Póngase en contacto con el "
     L"administrador."},
    // 3
    {"fr", 0x040C,
     L"Cette application nécessite une version de Tessaro Vantel introuvable.\n"
     L"Téléchargez la dernière version du moteur d’exécution à l’adresse\n" TV_DOWNLOAD_PAGE(L"_fr") L",\n"
     L"ou contactez l’auteur de l’application pour obtenir une version mise à jour.",
     L"Une erreur s’est produite lors de l’installation de cette application.\n"
     L"Installez la dernière version de Tessaro Vantel à partir de\n" TV_DOWNLOAD_PAGE(L"_fr")
     L", puis réessayez.",
     L"OK", L"Annuler", L"Veuillez patienter.",
     L"Impossible de télécharger Tessaro Vantel. Vérifiez que vous êtes connecté au réseau, puis "
     L"réessayez.",
     L"Impossible de valider la version téléchargée de Tessaro Vantel.\n"
     L"Installez la dernière version de Tessaro Vantel à partir de\n" TV_DOWNLOAD_PAGE(L"_fr") L",\n"
     L"puis essayez à nouveau d’installer cette application.",
     L"Téléchargement en cours de vérification...",
     L"Cette application nécessite une mise à jour de Tessaro Vantel qui n’est pas disponible pour "
     L"votre système. Consultez la <a href='" TV_SYSREQS_PAGE(L"_fr") L"'>configuration requise</a> "
     L"de Tessaro Vantel et mettez votre système à jour en conséquence.",
     L"Installation en cours ",
     L"Cette application nécessite une mise à jour de Tessaro Vantel, mais votre administrateur "
     L"n’autorise pas le téléchargement de cette mise à jour sur votre système. Contactez votre "
     L"administrateur."},
    // 4
    {"it", 0x0410,
     L"Questa applicazione richiede una versione di Tessaro Vantel che non è stata trovata.\n"
     L"Scaricate la versione più recente del runtime da\n" TV_DOWNLOAD_PAGE(L"_it") L",\n"
     L"oppure contattate l’autore dell’applicazione per ottenere una versione aggiornata.",
     L"Si è verificato un errore durante l’installazione di questa applicazione.\n"
     L"Installate la versione più recente di Tessaro Vantel da\n" TV_DOWNLOAD_PAGE(L"_it")
     L" e riprovate.",
     L"OK", L"Annulla", L"Attendete.",
     L"Impossibile scaricare Tessaro Vantel. Verificate di essere connessi alla rete e riprovate.",
     L"Impossibile convalidare la versione scaricata di Tessaro Vantel.\n"
     L"Installate la versione più recente di Tessaro Vantel da\n" TV_DOWNLOAD_PAGE(L"_it") L",\n"
     L"quindi riprovate a installare questa applicazione.",
     L"Verifica del download...",
     L"Questa applicazione richiede un aggiornamento di Tessaro Vantel che non è disponibile per il "
     L"vostro sistema. Consultate i <a href='" TV_SYSREQS_PAGE(L"_it") L"'>requisiti di sistema</a> "
     L"di Tessaro Vantel e aggiornate il sistema di conseguenza.",
     L"Installazione ",
     L"Questa applicazione richiede un aggiornamento di Tessaro Vantel, ma l’amministratore non "
     L"consente di scaricare tale aggiornamento sul vostro sistema. Contattate l’amministratore."},
    // 5
    {"ja", 0x0411,
     L"このアプリケーションには、見つからないバージョンの Tessaro Vantel が必要です。\n"
     L"最新バージョンのランタイムを次の場所からダウンロードしてください:\n" TV_DOWNLOAD_PAGE(L"_ja") L"、\n"
     L"または、アプリケーションの作成者に更新版についてお問い合わせください。",
     L"このアプリケーションのインストール中に問題が発生しました。\n"
     L"最新バージョンの Tessaro Vantel を次の場所からインストールしてください:\n" TV_DOWNLOAD_PAGE(L"_ja")
     L" その後、もう一度お試しください。",
     L"OK", L"キャンセル", L"お待ちください。",
     L"Tessaro Vantel をダウンロードできません。ネットワークに接続されていることを確認して、"
     L"もう一度お試しください。",
     L"ダウンロードした Tessaro Vantel のバージョンを検証できません。\n"
     L"最新バージョンの Tessaro Vantel を次の場所からインストールしてください:\n" TV_DOWNLOAD_PAGE(L"_ja") L"、\n"
     L"その後、このアプリケーションのインストールをやり直してください。",
     L"ダウンロードを確認しています...",
     L"このアプリケーションには、お使いのシステムでは利用できない Tessaro Vantel の更新が必要です。"
     L"Tessaro Vantel の<a href='" TV_SYSREQS_PAGE(L"_ja") L"'>システム要件</a>を確認し、"
     L"システムを適切に更新してください。",
     L"インストール中：",
     L"このアプリケーションには Tessaro Vantel の更新が必要ですが、お使いのシステムでは管理者によって"
     L"その更新のダウンロードが許可されていません。管理者にお問い合わせください。"},
    // 6
    {"ko", 0x0412,
     L"이 응용 프로그램에는 찾을 수 없는 버전의 Tessaro Vantel이 필요합니다.\n"
     L"다음 위치에서 최신 버전의 런타임을 다운로드하거나\n" TV_DOWNLOAD_PAGE(L"_ko") L",\n"
     L"응용 프로그램 작성자에게 업데이트된 버전을 문의하십시오.",
     L"이 응용 프로그램을 설치하는 동안 문제가 발생했습니다.\n"
     L"다음 위치에서 최신 버전의 Tessaro Vantel을 설치한 후\n" TV_DOWNLOAD_PAGE(L"_ko")
     L" 다시 시도하십시오.",
     L"확인", L"취소", L"잠시 기다려 주십시오.",
     L"Tessaro Vantel을 다운로드할 수 없습니다. 네트워크에 연결되어 있는지 확인한 후 다시 "
     L"시도하십시오.",
     L"다운로드한 버전의 Tessaro Vantel을 확인할 수 없습니다.\n"
     L"다음 위치에서 최신 버전의 Tessaro Vantel을 설치한 후\n" TV_DOWNLOAD_PAGE(L"_ko") L",\n"
     L"이 응용 프로그램을 다시 설치하십시오.",
     L"다운로드 확인 중...",
     L"이 응용 프로그램에는 사용 중인 시스템에서 사용할 수 없는 Tessaro Vantel 업데이트가 "
     L"필요합니다. Tessaro Vantel의 <a href='" TV_SYSREQS_PAGE(L"_ko") L"'>시스템 요구 사항</a>을 "
     L"확인하고 그에 따라 시스템을 업데이트하십시오.",
     L"설치 중 ",
     L"이 응용 프로그램에는 Tessaro Vantel 업데이트가 필요하지만 관리자가 시스템에서 해당 "
     L"업데이트를 다운로드하도록 허용하지 않았습니다. 관리자에게 문의하십시오."},
    // 7
    {"pt", 0x0416,
     L"Este aplicativo requer uma versão do Tessaro Vantel que não foi encontrada.\n"
     L"Baixe a versão mais recente do runtime em\n" TV_DOWNLOAD_PAGE(L"_pt") L",\n"
     L"ou entre em contato com o autor do aplicativo para obter uma versão atualizada.",
     L"Ocorreu um erro ao tentar instalar este aplicativo.\n"
     L"Instale a versão mais recente do Tessaro Vantel em\n" TV_DOWNLOAD_PAGE(L"_pt")
     L" e tente novamente.",
     L"OK", L"Cancelar", L"Aguarde.",
     L"Não é possível baixar o Tessaro Vantel. Verifique se você está conectado à rede e tente "
     L"novamente.",
     L"Não é possível validar a versão baixada do Tessaro Vantel.\n"
     L"Instale a versão mais recente do Tessaro Vantel em\n" TV_DOWNLOAD_PAGE(L"_pt") L",\n"
     L"e tente instalar este aplicativo novamente.",
     L"Verificando o download...",
     L"Este aplicativo requer uma atualização do Tessaro Vantel que não está disponível para o seu "
     L"sistema. Consulte os <a href='" TV_SYSREQS_PAGE(L"_pt") L"'>requisitos do sistema</a> do "
     L"Tessaro Vantel e atualize o seu sistema de acordo.",
     L"Instalando  ",
     L"Este aplicativo requer uma atualização do Tessaro Vantel, mas o download dessa atualização "
     L"no seu sistema não é permitido pelo administrador. Entre em contato com o administrador."},
    // 8
    {"ru", 0x0419,
     L"Для этого приложения требуется версия Tessaro Vantel, которую не удается найти.\n"
     L"Загрузите последнюю версию среды выполнения с сайта\n" TV_DOWNLOAD_PAGE(L"_ru") L",\n"
     L"или обратитесь к автору приложения за обновленной версией.",
     L"При установке этого приложения произошла ошибка.\n"
     L"Установите последнюю версию Tessaro Vantel с сайта\n" TV_DOWNLOAD_PAGE(L"_ru")
     L" и повторите попытку.",
     L"ОК", L"Отмена", L"Подождите...",
     L"Не удается загрузить Tessaro Vantel. Убедитесь, что есть подключение к сети, и повторите "
     L"попытку.",
     L"Не удается проверить загруженную версию Tessaro Vantel.\n"
     L"Установите последнюю версию Tessaro Vantel с сайта\n" TV_DOWNLOAD_PAGE(L"_ru") L",\n"
     L"а затем повторите установку этого приложения.",
     L"Проверка загрузки...",
     L"Для этого приложения требуется обновление Tessaro Vantel, недоступное для вашей системы. "
     L"Ознакомьтесь с <a href='" TV_SYSREQS_PAGE(L"_ru") L"'>системными требованиями</a> "
     L"Tessaro Vantel и обновите систему соответствующим образом.",
     L"Установка...",
     L"Для этого приложения требуется обновление Tessaro Vantel, но загрузка этого обновления в "
     L"вашей системе запрещена администратором. Обратитесь к администратору."},
    // 9
    {"zh-Hans", 0x0804,
     L"此应用程序需要的 Tessaro Vantel 版本找不到。\n"
     L"请从以下位置下载最新版本的运行时：\n" TV_DOWNLOAD_PAGE(L"_cn") L"，\n"
     L"或与应用程序作者联系以获取更新的版本。",
     L"尝试安装此应用程序时出错。\n"
     L"请从以下位置安装最新版本的 Tessaro Vantel：\n" TV_DOWNLOAD_PAGE(L"_cn") L"，然后重试。",
     L"确定", L"取消", L"请稍候。",
     L"无法下载 Tessaro Vantel。请确保已连接到网络，然后重试。",
     L"无法验证已下载的 Tessaro Vantel 版本。\n"
     L"请从以下位置安装最新版本的 Tessaro Vantel：\n" TV_DOWNLOAD_PAGE(L"_cn") L"，\n"
     L"然后重新安装此应用程序。",
     L"正在验证下载...",
     L"此应用程序需要 Tessaro Vantel 的更新，但该更新不适用于您的系统。请查看 Tessaro Vantel 的"
     L"<a href='" TV_SYSREQS_PAGE(L"_cn") L"'>系统要求</a>，并相应地更新您的系统。",
     L"正在安装 ",
     L"此应用程序需要 Tessaro Vantel 的更新，但管理员不允许在您的系统上下载该更新。请与管理员联系。"},
    // 10
    {"zh-Hant", 0x0404,
     L"此應用程式需要的 Tessaro Vantel 版本找不到。\n"
     L"請從以下位置下載最新版本的執行階段：\n" TV_DOWNLOAD_PAGE(L"_tw") L"，\n"
     L"或與應用程式作者聯絡以取得更新的版本。",
     L"嘗試安裝此應用程式時發生錯誤。\n"
     L"請從以下位置安裝最新版本的 Tessaro Vantel：\n" TV_DOWNLOAD_PAGE(L"_tw") L"，然後再試一次。",
     L"確定", L"取消", L"請稍候。",
     L"無法下載 Tessaro Vantel。請確定已連線到網路，然後再試一次。",
     L"無法驗證已下載的 Tessaro Vantel 版本。\n"
     L"請從以下位置安裝最新版本的 Tessaro Vantel：\n" TV_DOWNLOAD_PAGE(L"_tw") L"，\n"
     L"然後重新安裝此應用程式。",
     L"正在驗證下載...",
     L"此應用程式需要 Tessaro Vantel 的更新，但該更新不適用於您的系統。請檢視 Tessaro Vantel 的"
     L"<a href='" TV_SYSREQS_PAGE(L"_tw") L"'>系統需求</a>，並據此更新您的系統。",
     L"正在安裝  ",
     L"此應用程式需要 Tessaro Vantel 的更新，但系統管理員不允許在您的系統上下載該更新。"
     L"請與系統管理員聯絡。"},
    // 11
    {"cs", 0x0405,
     L"Tato aplikace vyžaduje verzi Tessaro Vantel, kterou nelze najít.\n"
     L"Stáhněte si nejnovější verzi běhového prostředí z adresy\n" TV_DOWNLOAD_PAGE(L"_cs") L",\n"
     L"nebo požádejte autora aplikace o aktualizovanou verzi.",
     L"Při instalaci této aplikace došlo k chybě.\n"
     L"Nainstalujte nejnovější verzi Tessaro Vantel z adresy\n" TV_DOWNLOAD_PAGE(L"_cs")
     L" a zkuste to znovu.",
     L"OK", L"Zrušit", L"Počkejte prosím.",
     L"Tessaro Vantel nelze stáhnout. Ověřte, že jste připojeni k síti, a zkuste to znovu.",
     L"Staženou verzi Tessaro Vantel nelze ověřit.\n"
     L"Nainstalujte nejnovější verzi Tessaro Vantel z adresy\n" TV_DOWNLOAD_PAGE(L"_cs") L",\n"
     L"a potom zkuste tuto aplikaci nainstalovat znovu.",
     L"Ověřování stažení...",
     L"Tato aplikace vyžaduje aktualizaci Tessaro Vantel, která pro váš systém není k dispozici. "
     L"Prohlédněte si <a href='" TV_SYSREQS_PAGE(L"_cs") L"'>systémové požadavky</a> Tessaro Vantel "
     L"a podle nich aktualizujte svůj systém.",
     L"Instalace… ",
     L"Tato aplikace vyžaduje aktualizaci Tessaro Vantel, ale správce ve vašem systému nepovolil "
     L"stažení této aktualizace. Obraťte se na správce."},
    // 12
    {"nl", 0x0413,
     L"Voor deze toepassing is een versie van Tessaro Vantel vereist die niet kan worden gevonden.\n"
     L"Download de nieuwste versie van de runtime van\n" TV_DOWNLOAD_PAGE(L"_nl") L",\n"
     L"of neem contact op met de auteur van de toepassing voor een bijgewerkte versie.",
     L"Er is iets misgegaan bij het installeren van deze toepassing.\n"
     L"Installeer de nieuwste versie van Tessaro Vantel van\n" TV_DOWNLOAD_PAGE(L"_nl")
     L" en probeer het opnieuw.",
     L"OK", L"Annuleren", L"Een ogenblik geduld...",
     L"Kan Tessaro Vantel niet downloaden. Controleer of u met het netwerk bent verbonden en "
     L"probeer het opnieuw.",
     L"Kan de gedownloade versie van Tessaro Vantel niet valideren.\n"
     L"Installeer de nieuwste versie van Tessaro Vantel van\n" TV_DOWNLOAD_PAGE(L"_nl") L",\n"
     L"en probeer deze toepassing daarna opnieuw te installeren.",
     L"Download controleren...",
     L"Voor deze toepassing is een update van Tessaro Vantel vereist die niet beschikbaar is voor uw "
     L"systeem. Bekijk de <a href='" TV_SYSREQS_PAGE(L"_nl") L"'>systeemvereisten</a> voor Tessaro "
     L"Vantel en werk uw systeem dienovereenkomstig bij.",
     L"Installeren…",
     L"Voor deze toepassing is een update van Tessaro Vantel vereist, maar uw beheerder staat niet "
     L"toe dat die update op uw systeem wordt gedownload. Neem contact op met uw beheerder."},
    // 13
    {"pl", 0x0415,
     L"Ta aplikacja wymaga wersji Tessaro Vantel, której nie można znaleźć.\n"
     L"Pobierz najnowszą wersję środowiska wykonawczego ze strony\n" TV_DOWNLOAD_PAGE(L"_pl") L",\n"
     L"lub skontaktuj się z autorem aplikacji w sprawie zaktualizowanej wersji.",
     L"Podczas instalowania tej aplikacji wystąpił błąd.\n"
     L"Zainstaluj najnowszą wersję Tessaro Vantel ze strony\n" TV_DOWNLOAD_PAGE(L"_pl")
     L", a następnie spróbuj ponownie.",
     L"OK", L"Anuluj", L"Czekaj.",
     L"Nie można pobrać Tessaro Vantel. Upewnij się, że masz połączenie z siecią, i spróbuj "
     L"ponownie.",
     L"Nie można zweryfikować pobranej wersji Tessaro Vantel.\n"
     L"Zainstaluj najnowszą wersję Tessaro Vantel ze strony\n" TV_DOWNLOAD_PAGE(L"_pl") L",\n"
     L"a następnie ponów instalację tej aplikacji.",
     L"Sprawdzanie poprawności pobranego pliku...",
     L"Ta aplikacja wymaga aktualizacji Tessaro Vantel, która nie jest dostępna dla Twojego "
     L"systemu. Zapoznaj się z <a href='" TV_SYSREQS_PAGE(L"_pl") L"'>wymaganiami systemowymi</a> "
     L"Tessaro Vantel i odpowiednio zaktualizuj system.",
     L"Instalowanie ",
     L"Ta aplikacja wymaga aktualizacji Tessaro Vantel, ale administrator nie zezwala na pobranie "
     L"tej aktualizacji w Twoim systemie. Skontaktuj się z administratorem."},
    // 14
    {"sv", 0x041D,
     L"Det här programmet kräver en version av Tessaro Vantel som inte kan hittas.\n"
     L"Hämta den senaste versionen av körningsmiljön från\n" TV_DOWNLOAD_PAGE(L"_sv") L",\n"
     L"eller kontakta programmets upphovsman för att få en uppdaterad version.",
     L"Något gick fel när programmet skulle installeras.\n"
     L"Installera den senaste versionen av Tessaro Vantel från\n" TV_DOWNLOAD_PAGE(L"_sv")
     L" och försök sedan igen.",
     L"OK", L"Avbryt", L"Vänta.",
     L"Det går inte att hämta Tessaro Vantel. Kontrollera att du är ansluten till nätverket och "
     L"försök igen.",
     L"Det går inte att validera den hämtade versionen av Tessaro Vantel.\n"
     L"Installera den senaste versionen av Tessaro Vantel från\n" TV_DOWNLOAD_PAGE(L"_sv") L",\n"
     L"och försök sedan installera programmet igen.",
     L"Verifierar hämtning...",
     L"Det här programmet kräver en uppdatering av Tessaro Vantel som inte är tillgänglig för ditt "
     L"system. Läs <a href='" TV_SYSREQS_PAGE(L"_sv") L"'>systemkraven</a> för Tessaro Vantel och "
     L"uppdatera systemet i enlighet med dem.",
     L"Installerar  ",
     L"Det här programmet kräver en uppdatering av Tessaro Vantel, men administratören tillåter inte "
     L"att uppdateringen hämtas till ditt system. Kontakta administratören."},
    // 15
    {"tr", 0x041F,
     L"Bu uygulama, bulunamayan bir Tessaro Vantel sürümü gerektiriyor.\n"
     L"Lütfen çalışma zamanının en son sürümünü şu adresten indirin:\n" TV_DOWNLOAD_PAGE(L"_tr") L",\n"
     L"veya güncelleştirilmiş bir sürüm için uygulamanın yazarına başvurun.",
     L"Bu uygulama yüklenmeye çalışılırken bir sorun oluştu.\n"
     L"Lütfen Tessaro Vantel’in en son sürümünü şu adresten yükleyin:\n" TV_DOWNLOAD_PAGE(L"_tr")
     L" ve ardından yeniden deneyin.",
     L"Tamam", L"İptal", L"Lütfen bekleyin.",
     L"Tessaro Vantel indirilemiyor. Ağa bağlı olduğunuzdan emin olun ve yeniden deneyin.",
     L"İndirilen Tessaro Vantel sürümü doğrulanamıyor.\n"
     L"Lütfen Tessaro Vantel’in en son sürümünü şu adresten yükleyin:\n" TV_DOWNLOAD_PAGE(L"_tr") L",\n"
     L"ardından bu uygulamayı yeniden yüklemeyi deneyin.",
     L"İndirme doğrulanıyor...",
     L"Bu uygulama, sisteminiz için kullanılamayan bir Tessaro Vantel güncelleştirmesi gerektiriyor. "
     L"Lütfen Tessaro Vantel <a href='" TV_SYSREQS_PAGE(L"_tr") L"'>sistem gereksinimlerini</a> "
     L"inceleyin ve sisteminizi buna göre güncelleştirin.",
     L"Yükleniyor ",
     L"Bu uygulama bir Tessaro Vantel güncelleştirmesi gerektiriyor, ancak yöneticiniz bu "
     L"güncelleştirmenin sisteminize indirilmesine izin vermiyor. Lütfen yöneticinize başvurun."},
    // 16: the fallback holds the English texts in every column.
    TV_ENGLISH_ROW("", 0x0000),
};

int FindLanguageRow(uint16_t languageId) {
  const uint32_t id = languageId;
  for (int row = 0; row < kLanguageRowCount; ++row) {
    if (kLanguageTable[row].languageId == id) return row;
  }
  const uint32_t primary = id & 0x3FFu;
  for (int row = 0; row < kFallbackLanguageRow; ++row) {
    if ((kLanguageTable[row].languageId & 0x3FFu) == primary) return row;
  }
  return kFallbackLanguageRow;
}

}  // namespace tovik
