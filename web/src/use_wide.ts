// Whether the window is wide enough for the tablet layout (side tab bar,
// the tablet form of the status line).
import { useEffect, useState } from "preact/hooks";

export const wideQuery = "(min-width: 768px)";

export function useWide(): boolean {
  const [wide, setWide] = useState(() => window.matchMedia(wideQuery).matches);
  useEffect(() => {
    const mq = window.matchMedia(wideQuery);
    const on = () => setWide(mq.matches);
    mq.addEventListener("change", on);
    return () => mq.removeEventListener("change", on);
  }, []);
  return wide;
}
