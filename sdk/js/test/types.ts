// A page's use of the library, for `tsc --noEmit`: the declarations must
// accept this and refuse the lines marked @ts-expect-error.
import { HwService, HwServiceError, type IdCard } from "../hwservice.js";

async function page(): Promise<void> {
  const hw = new HwService({ transport: "websocket", timeoutMs: 5000, region: "440100" });
  if (!(await hw.available())) return;
  try {
    const id: IdCard = await hw.readIdCard({ photo: true });
    const name: string = id.Name;
    const photo: string | undefined = id.Photo;
    const ss = await hw.readSocialCardInfo();
    const all: string[] = [name, photo ?? "", ss.Birthday, ss.IssueDeptID,
      (await hw.readSocialCardNumber()).CardNo, (await hw.readSocialCardCertId()).CardCertID,
      (await hw.readSocialCardRegion()).City, (await hw.readBankCardNumber()).MagBankNo,
      (await hw.readQrCode(30)).ECardInfo];
    const none: void = await hw.setScannerMode(true);
    await hw.setScannerInterval(500);
    const data: Record<string, string> | null = await hw.call("DKQ0004", { Region: "广州市" }, { timeoutMs: 1000 });
    console.log(all, none, data);
  } catch (e) {
    if (e instanceof HwServiceError) {
      const code: number | string = e.code;
      if (e.code === HwServiceError.NOT_REACHABLE || e.code === "BLOCKED") console.log(e.message);
      console.log(code, e.funId, e.reply?.ErrorInfo);
    }
  } finally {
    hw.close();
  }
  // A classic <script> page finds the same class on window.
  const same: typeof HwService = window.HwService;
  console.log(same);

  // @ts-expect-error transport is "http" or "websocket"
  new HwService({ transport: "tcp" });
  // @ts-expect-error the QR wait is a number of seconds
  await hw.readQrCode("30");
  // @ts-expect-error the scanner mode is a boolean
  await hw.setScannerMode(1);
  // @ts-expect-error DKQ0001 has no Name
  (await hw.readSocialCardNumber()).Name;
  // @ts-expect-error a library code that does not exist
  if (new HwServiceError().code === "GONE") return;
}
page();
